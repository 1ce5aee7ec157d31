#pragma once
// Blacks out the picture while the application in front is one the guards refuse. The
// flag is set on the main thread; the wrapped source and grab read it on their own thread.
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "stream/moteur.h"
#include "stream/tuiles.h"

namespace vimba::flux {

// The flag, and the live sources to wake when it changes (a still screen sends no frame).
class EtatMasque {
public:
    bool actif() const { return actif_; }
    // Any thread; the sources refresh at once when the flag changes.
    void poser(bool actif);
    void inscrire(SourceImages* s);
    void desinscrire(SourceImages* s);

private:
    std::atomic<bool> actif_{false};
    std::mutex verrou_;
    std::vector<SourceImages*> sources_;
};
using Masque = std::shared_ptr<EtatMasque>;

// Frames delivered while the mask is set are black, whole; the first frame after it is
// lifted is marked changed everywhere, so no black tile lingers.
std::unique_ptr<SourceImages> sourceMasquee(std::unique_ptr<SourceImages> source, Masque masque);
// The same for the polling grab, which sends a whole frame each time anyway.
Saisie saisieMasquee(Saisie saisie, Masque masque);

}  // namespace vimba::flux
