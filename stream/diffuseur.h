#pragma once
// The live stream server: one listener, one viewer at a time, the engine that feeds it,
// the send path, the pointer and the heartbeat. Everything network-side runs on its own
// Asio thread; `demarrer`, `arreter`, `port` and `moteurActif` are for the main thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "agent/services.h"
#include "stream/moteur.h"
#include "stream/tuiles.h"

namespace vimba::flux {

// Whether a peer's address text is accepted: loopback only, by its text.
bool pairAccepte(const std::string& texte);
// Whether the account owning a loopback connection's far end is the session's: ours or
// the technician's. Any other local account is refused like a remote peer.
bool compteAccepte(int connexion);

class Diffuseur final : public Diffusion {
public:
    // The pointer in a picture of the given size; -1, -1 when unknown.
    using Pointeur = std::function<std::pair<int, int>(int largeur, int hauteur)>;
    // `source` makes capture sources, `saisie` grabs for the polling engine; without
    // `pointeur`, the X display's.
    Diffuseur(FabriqueSource source, Saisie saisie, Pointeur pointeur = nullptr);
    ~Diffuseur() override;

    void demarrer(const std::string& dossier, std::int64_t largeur, std::int64_t qualitePourCent,
                  const std::string& moteur) override;
    std::uint16_t port() const override;
    std::string moteurActif() const override;
    void arreter() override;
    void masquer(bool sensible, std::uint64_t cle) override;

    // Frame messages and their bytes since creation, last polling grab time; these wait
    // for the server's thread, so not for the main thread while an engine starts.
    std::uint64_t images() const;
    std::uint64_t octets() const;
    double msCapture() const;

    struct Coeur;

private:
    std::shared_ptr<Coeur> coeur_;
};

}  // namespace vimba::flux
