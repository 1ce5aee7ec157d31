// depannage-vimba: the window a person opens to let Ilvo help; everything runs on the GTK
// main loop of the main thread.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>

#include "agent/agent.h"
#include "app/fenetre.h"
#include "app/lanceur.h"

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "depannage-vimba : aucun affichage n’est joignable (DISPLAY)\n");
        return 1;
    }
    g_set_prgname("depannage-vimba");
    g_set_application_name("Dépannage Vimba");
    vimba::Fenetre fenetre(vimba::agent(), vimba::ressources(), vimba::Programmes{vimba::scriptSession()});
    auto arret = [](gpointer f) -> gboolean {
        static_cast<vimba::Fenetre*>(f)->terminer();
        return G_SOURCE_CONTINUE;
    };
    g_unix_signal_add(SIGINT, arret, &fenetre);
    g_unix_signal_add(SIGTERM, arret, &fenetre);
    fenetre.montrer();
    gtk_main();
    return 0;
}
