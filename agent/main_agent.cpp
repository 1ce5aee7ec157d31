// vimba-agent: the command agent alone on the main loop, without a window.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "agent/agent.h"
#include "agent/dossier.h"
#include "agent/fabrique.h"

int main(int argc, char** argv) {
    // --dossier only lets tests run the agent beside another one; the product folder is fixed.
    const char* dossier = nullptr;
    // --autoriser asks the permissions at start, as the application's « autorise » does.
    bool autoriser = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dossier") == 0 && i + 1 < argc) {
            dossier = argv[++i];
        } else if (std::strcmp(argv[i], "--autoriser") == 0) {
            autoriser = true;
        } else {
            std::fprintf(stderr, "usage: vimba-agent [--dossier DOSSIER] [--autoriser]\n");
            return 2;
        }
    }
    // The agent shows nothing to read: without GTK's accessibility bridge it is not one more
    // application on the bus, and its idle loop has one connection less to look at each tick.
    g_setenv("NO_AT_BRIDGE", "1", TRUE);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "vimba-agent : aucun affichage X (DISPLAY) n’est joignable\n");
        return 1;
    }
    // Said once: the poll itself stays silent, as the channel is.
    const std::string chemin = dossier ? dossier : "/tmp/vimba-sos";
    vimba::dossier::Verdict verdict{};
    if (!vimba::dossier::Dossier::ouvrir(chemin, &verdict) && verdict != vimba::dossier::Verdict::Absent)
        std::fprintf(stderr, "vimba-agent : %s\n", vimba::dossier::expliquer(verdict, chemin).c_str());
    vimba::Agent& a = dossier ? *new vimba::Agent(vimba::servicesDuSysteme(dossier), dossier) : vimba::agent();
    struct Arret {
        GMainLoop* boucle;
        vimba::Agent* agent;
    } arret{g_main_loop_new(nullptr, FALSE), &a};
    GMainLoop* boucle = arret.boucle;
    // Stopped here too, not only after the loop: a long request polls the loop and gives up.
    auto surSignal = [](gpointer p) -> gboolean {
        auto* quoi = static_cast<Arret*>(p);
        quoi->agent->stopper();
        g_main_loop_quit(quoi->boucle);
        return G_SOURCE_REMOVE;
    };
    g_unix_signal_add(SIGINT, surSignal, &arret);
    g_unix_signal_add(SIGTERM, surSignal, &arret);
    a.demarrer();
    if (autoriser) a.demanderAutorisations();
    g_main_loop_run(boucle);
    a.stopper();
    // Let the posted marker erase run before leaving.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    return 0;
}
