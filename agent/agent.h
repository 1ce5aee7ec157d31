#pragma once
// The command agent: polls the request folder every 12 ms, takes one request per tick on
// the GLib main loop, answers it through the dispatcher and writes the reply atomically.
// Lives on the main thread; only the tick itself runs on a thread of its own.
#include <glib.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/services.h"
#include "agent/veille.h"

namespace vimba {

class Agent {
public:
    explicit Agent(Services services, std::string dossier = "/tmp/vimba-sos");
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;
    ~Agent();

    void demarrer();
    void stopper();
    bool agitDepuis(double secondes) const;
    bool enMarche() const { return tic_ != nullptr; }

    // One poll step; the timer's only caller in the product.
    void tour();
    // Request text in, reply text out; never fails.
    std::string executer(std::string_view demande);

    bool voitEcran() { return s_.permissions->voitEcran(); }
    bool peutAgir() { return s_.permissions->peutAgir(); }
    void demanderAutorisations() { s_.permissions->demanderAutorisations(); }

    Marquage& marqueur() { return *s_.marqueur; }
    Diffusion& diffuseur() { return *s_.diffuseur; }

    const std::string dossier;
    const std::string prefixeDemande = "demande-";
    const std::string prefixeReponse = "reponse-";
    // Left by a client that gave up on a request: its reply is not written, or removed.
    const std::string prefixeAbandon = "abandon-";
    // Present, and renewed at least every second, while a request runs: a client waits
    // for its reply, or for its turn, as long as the agent shows it is working.
    const std::string marqueEnCours = "en-cours";
    // Larger requests are removed unread and answered "erreur demande trop longue".
    static constexpr std::size_t tailleMaximum = 1 << 20;
    // Beyond these a request is refused with an error: `tape` text in characters (about
    // 150 s of typing, within the gate's 180 s), `dire` labels in characters, stroke points.
    static constexpr std::size_t caracteresTapeMaximum = 10000;
    static constexpr std::size_t caracteresEtiquetteMaximum = 500;
    static constexpr std::size_t pointsTraitMaximum = 2000;
    const std::vector<std::string>& interdites;

private:
    std::string nomDevant();
    // Renews the "en-cours" mark during a long request (at most once a second).
    void signalerActivite();
    // What makes the front refused, as the refusal names it; none when it may be served.
    std::optional<std::string> devantSensible();
    // No text may go to the focus: a password field, or accessibility not granted.
    bool champRefuse();
    std::string lire(const std::vector<std::string_view>& mots);
    std::string viser(const std::vector<std::string_view>& mots);
    std::string flux(const std::vector<std::string_view>& mots);
    // While a stream runs, blacks out its picture whenever the front would be refused.
    void surveillerFlux();
    void jugerFlux();

    // Whether a tick has work for the main loop; asked on the tick's thread.
    bool aFaire() const;

    // The 12 ms tick on a bare loop of its own thread: it wakes the main loop only when
    // aFaire(), so an idle agent costs what a bare timer does (the main loop also watches
    // the display, whose sources would otherwise be looked at on every tick).
    class Tic;
    Services s_;
    VeilleDossier veille_;
    std::unique_ptr<Tic> tic_;
    bool enCours_ = false;
    // Set by stopper(): a long request still running gives up at its next step.
    bool arrete_ = false;
    std::chrono::steady_clock::time_point dernierControleFlux_{};
    std::chrono::steady_clock::time_point derniereActivite_{};
    std::uint64_t cleJugee_ = 0;
    // None until the first request: no activity is recent before it.
    std::optional<std::chrono::steady_clock::time_point> dernierGeste_;
};

// The single agent of the process, with the real services, created on first use.
Agent& agent();

}  // namespace vimba
