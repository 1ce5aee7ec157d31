#pragma once
// The application's one window: the page in a web view, the bridge to it and the session's
// lifecycle. Lives on the main thread; only repondre may be called from other threads.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "agent/agent.h"
#include "app/cycle.h"
#include "app/lanceur.h"

namespace vimba {

class Fenetre {
public:
    // dossierPage: the folder the page is served from; programmes: the session script.
    Fenetre(Agent& agent, std::string dossierPage, Programmes programmes);
    Fenetre(const Fenetre&) = delete;
    Fenetre& operator=(const Fenetre&) = delete;
    ~Fenetre();

    void montrer();
    void repondre(const std::string& sorte, const std::string& texte);
    void direLesAutorisations();
    // The one way out: window closed, page "fermer", SIGTERM or SIGINT.
    void terminer();

    // Ends the main loop once termination is done; the tests keep their own loop.
    std::function<void()> quitter = [] { gtk_main_quit(); };

    GtkWindow* fenetre() const { return fenetre_; }
    WebKitWebView* vue() const { return vue_; }
    bool sessionOuverte() const { return cycle_->sessionOuverte(); }

    static constexpr int largeur = 520, hauteur = 600;
    static constexpr int petiteLargeur = 304, petiteHauteur = 196, marge = 18;

private:
    static void recu(WebKitUserContentManager*, WebKitJavascriptResult* r, gpointer moi);
    void lancerVeille();
    void arreterVeille();
    void montrerSession();
    void cacherSession();
    void vider();
    void fixerTaille(int l, int h);

    Agent& agent_;
    std::string dossierPage_;
    Programmes programmes_;
    GtkWindow* fenetre_ = nullptr;
    WebKitWebView* vue_ = nullptr;
    guint veille_ = 0;
    bool termine_ = false;
    std::shared_ptr<Cycle> cycle_;
    // Tells callbacks still queued on the loop that the window is gone.
    std::shared_ptr<Fenetre*> vivant_;
    // Notices waiting for the main loop; shared with the threads that send them.
    struct File {
        std::mutex verrou;
        std::deque<std::string> scripts;
    };
    std::shared_ptr<File> file_ = std::make_shared<File>();
};

}  // namespace vimba
