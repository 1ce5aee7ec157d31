#pragma once
// The session's lifecycle: open from a code, run the administrator step, watch, close.
// Operations return at once; their steps run on the threads the links provide.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/lanceur.h"

namespace vimba {

class Cycle : public std::enable_shared_from_this<Cycle> {
public:
    using Tache = std::function<void()>;
    // What the lifecycle needs from the window and the system; doubles in the tests.
    struct Liens {
        std::function<Resultat(const std::vector<std::string>&, bool)> lancer;
        std::function<void(const std::string&, const std::string&)> repondre;  // any thread
        std::function<void(Tache)> enFond;              // a background thread
        std::function<void(Tache)> surPrincipal;        // posted, not waited for
        std::function<void(Tache)> surPrincipalAttendu; // run there and waited for
        std::function<void(double)> dormir;
        std::function<void()> montrerSession;  // main thread: agent, small panel, watch
        std::function<void()> cacherSession;   // main thread: agent stopped, watch off, big window
        std::function<bool(double)> agitDepuis;  // main thread
    };

    explicit Cycle(Liens liens) : l_(std::move(liens)) {}

    void ouvrir(const std::string& code);
    void activer();
    // Ignored while a closing runs: a second one would ask for the password again.
    void refermer();
    // One watch step; runs on a background thread.
    void veiller();
    // Termination's closing step, on the main thread; first waits for an administrator step
    // under way, then closes the session if one is open. Blocks while it runs. No
    // administrator step starts after it.
    void terminer();

    bool sessionOuverte() const { return ouverte_.load(); }

    // "actif" or "calme" from the watch step's output.
    static std::string etatVeille(const std::string& sortie, bool agit);

private:
    // Counts administrator steps under way, so that termination can wait for them; admis is
    // false once termination has begun, and the step must not run.
    struct EnCours {
        Cycle& c;
        bool admis = false;
        explicit EnCours(Cycle& cycle);
        ~EnCours();
    };

    Liens l_;
    std::atomic<bool> ouverte_{false};
    std::atomic<bool> fermeture_{false};
    bool termine_ = false;  // under verrou_
    std::mutex verrou_;
    std::condition_variable libre_;
    int adminEnCours_ = 0;
};

}  // namespace vimba
