// A GTK3 window for the reading tests and benchmark: a few known controls, then a grid of
// labelled rows to make the accessibility tree as large as asked. Writes into --etat DIR
// the root-coordinate rectangle of each named widget ("geometrie"), the clicks of the
// "Envoyer" and "Réglages" buttons ("clics"), and "pret" once shown.
//   appli_lecture --etat DIR [--lignes N]
#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string dossier;
GtkWidget* fenetre = nullptr;
int clicsEnvoyer = 0, clicsReglages = 0;

struct Nomme {
    const char* nom;
    GtkWidget* w;
};
std::vector<Nomme> nommes;

void ecrire(const char* nom, const std::string& valeur) {
    const std::string chemin = dossier + "/" + nom;
    g_file_set_contents(chemin.c_str(), valeur.data(), static_cast<gssize>(valeur.size()), nullptr);
}

void publierClics() { ecrire("clics", std::to_string(clicsEnvoyer) + " " + std::to_string(clicsReglages)); }

gboolean publierGeometrie(gpointer) {
    // Without a window manager nobody gives us the focus; the readers look for it.
    gdk_window_focus(gtk_widget_get_window(fenetre), GDK_CURRENT_TIME);
    int ox = 0, oy = 0;
    gdk_window_get_origin(gtk_widget_get_window(fenetre), &ox, &oy);
    std::string g;
    for (auto& n : nommes) {
        int x = 0, y = 0;
        gtk_widget_translate_coordinates(n.w, fenetre, 0, 0, &x, &y);
        GtkAllocation a;
        gtk_widget_get_allocation(n.w, &a);
        g += std::string(n.nom) + " " + std::to_string(ox + x) + " " + std::to_string(oy + y) + " " +
             std::to_string(a.width) + " " + std::to_string(a.height) + "\n";
    }
    ecrire("geometrie", g);
    publierClics();
    ecrire("pret", "1");
    return G_SOURCE_REMOVE;
}

GtkWidget* nommer(const char* nom, GtkWidget* w) {
    nommes.push_back({nom, w});
    return w;
}

}  // namespace

int main(int argc, char** argv) {
    int lignes = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--etat")) dossier = argv[i + 1];
        if (!std::strcmp(argv[i], "--lignes")) lignes = std::atoi(argv[i + 1]);
    }
    g_set_prgname("appli-lecture");
    g_set_application_name("Appli lecture");
    gtk_init(&argc, &argv);

    fenetre = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(fenetre), "Appli lecture");
    gtk_window_set_default_size(GTK_WINDOW(fenetre), 700, 600);
    gtk_window_move(GTK_WINDOW(fenetre), 40, 30);
    g_signal_connect(fenetre, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

    GtkWidget* boite = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(fenetre), boite);

    // The static text comes before the button that shares its words.
    gtk_box_pack_start(GTK_BOX(boite), nommer("texte", gtk_label_new("Réglages du compte")), FALSE, FALSE, 0);
    GtkWidget* rangee = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
    gtk_box_pack_start(GTK_BOX(boite), rangee, FALSE, FALSE, 0);
    GtkWidget* envoyer = nommer("envoyer", gtk_button_new_with_label("Envoyer"));
    g_signal_connect(envoyer, "clicked", G_CALLBACK(+[](GtkButton*, gpointer) { ++clicsEnvoyer; publierClics(); }), nullptr);
    gtk_box_pack_start(GTK_BOX(rangee), envoyer, FALSE, FALSE, 0);
    GtkWidget* reglages = nommer("reglages", gtk_button_new_with_label("Réglages"));
    g_signal_connect(reglages, "clicked", G_CALLBACK(+[](GtkButton*, gpointer) { ++clicsReglages; publierClics(); }), nullptr);
    gtk_box_pack_start(GTK_BOX(rangee), reglages, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(rangee), nommer("actif", gtk_check_button_new_with_label("Actif")), FALSE, FALSE, 0);
    GtkWidget* entree = nommer("recherche", gtk_entry_new());
    gtk_entry_set_text(GTK_ENTRY(entree), "chat");
    atk_object_set_name(gtk_widget_get_accessible(entree), "Recherche");
    gtk_box_pack_start(GTK_BOX(rangee), entree, FALSE, FALSE, 0);
    GtkWidget* cache = gtk_button_new_with_label("Caché");
    gtk_box_pack_start(GTK_BOX(rangee), cache, FALSE, FALSE, 0);
    gtk_widget_set_no_show_all(cache, TRUE);

    // Bulk rows: each adds a label and a button to the tree.
    GtkWidget* defile = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_box_pack_start(GTK_BOX(boite), defile, TRUE, TRUE, 0);
    GtkWidget* grille = gtk_grid_new();
    gtk_container_add(GTK_CONTAINER(defile), grille);
    for (int i = 0; i < lignes; ++i) {
        const std::string n = std::to_string(i + 1);
        gtk_grid_attach(GTK_GRID(grille), gtk_label_new(("Ligne " + n).c_str()), 0, i, 1, 1);
        gtk_grid_attach(GTK_GRID(grille), gtk_button_new_with_label(("Bouton " + n).c_str()), 1, i, 1, 1);
    }

    gtk_widget_show_all(fenetre);
    gtk_window_present(GTK_WINDOW(fenetre));
    if (!dossier.empty()) g_timeout_add(300, publierGeometrie, nullptr);
    gtk_main();
}
