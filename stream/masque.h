#pragma once
// Blacks out the picture while the application in front is one the guards refuse. The
// verdict comes from the main thread with the front window it was given for; the wrapped
// sources compare that window with the one in front when each frame is delivered, so a
// window that has just come to the front stays black until it is judged.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "stream/moteur.h"
#include "stream/tuiles.h"

namespace vimba::flux {

// The verdict, and the live sources to wake when it changes (a still screen sends no frame).
class EtatMasque {
public:
    // Any thread. `cle` names the front window judged (x11::cleFenetreDevant).
    void poser(bool sensible, std::uint64_t cle);
    // Whether a frame taken while `cleVue` is in front must be black; none: the verdict alone.
    bool masque(const std::uint64_t* cleVue) const;
    void inscrire(SourceImages* s);
    void desinscrire(SourceImages* s);

private:
    // The window's key with the verdict in its top bit, read and written as one. Never
    // judged: nothing masked (the server alone, as in its own tests; the agent judges the
    // front before it starts a stream).
    static constexpr std::uint64_t bitSensible = std::uint64_t{1} << 63;
    static constexpr std::uint64_t jamaisJuge = std::uint64_t{1} << 62;
    std::atomic<std::uint64_t> etat_{jamaisJuge};
    std::mutex verrou_;
    std::vector<SourceImages*> sources_;
};
using Masque = std::shared_ptr<EtatMasque>;

// Frames delivered while masked are black, whole; the first frame after is marked changed
// everywhere, so no black tile lingers.
std::unique_ptr<SourceImages> sourceMasquee(std::unique_ptr<SourceImages> source, Masque masque);
// The same for the polling grab, which sends a whole frame each time anyway.
Saisie saisieMasquee(Saisie saisie, Masque masque);

}  // namespace vimba::flux
