// A window filled by one button, under the overlay: each click adds a line to ETAT/clics,
// and ETAT/pret appears once the window is shown. Usage: fenetre_bouton ETAT
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

static std::string etat;

static void cliquee(GtkButton*, gpointer) {
    if (FILE* c = std::fopen((etat + "/clics").c_str(), "a")) {
        std::fputs("clic\n", c);
        std::fclose(c);
    }
}

static gboolean prete(gpointer) {
    if (FILE* p = std::fopen((etat + "/pret").c_str(), "w")) std::fclose(p);
    return G_SOURCE_REMOVE;
}

static gboolean montree(GtkWidget*, GdkEvent*, gpointer) {
    g_timeout_add(200, prete, nullptr);
    return FALSE;
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc < 2) return 2;
    etat = argv[1];
    GtkWidget* f = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(f), FALSE);
    gtk_window_move(GTK_WINDOW(f), 0, 0);
    gtk_window_set_default_size(GTK_WINDOW(f), 800, 600);
    GtkWidget* b = gtk_button_new_with_label("Bouton sous le repère");
    gtk_container_add(GTK_CONTAINER(f), b);
    g_signal_connect(b, "clicked", G_CALLBACK(cliquee), nullptr);
    g_signal_connect(f, "map-event", G_CALLBACK(montree), nullptr);
    g_signal_connect(f, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(f);
    gtk_main();
}
