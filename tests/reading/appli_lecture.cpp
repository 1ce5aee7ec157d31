// A GTK3 window for the reading tests and benchmark. Writes into --etat DIR the
// root-coordinate rectangle of each named widget ("geometrie"), the clicks of the
// "Envoyer" and "Réglages" buttons ("clics"), one line per control activated ("actives")
// and "pret" once shown.
//   appli_lecture --etat DIR [--lignes N] [--scene principale|touches|dialogue|pave]
// principale: a menu bar whose menus stay closed, a few known controls, then a grid of
//   labelled rows to make the tree as large as asked.
// touches: a calculator's keys, toggle buttons whose value "0" or "1" says pressed or not.
// dialogue: the main window under a modal save dialog whose fields are named by labels.
// pave: 200 buttons, all on screen at once.
#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string dossier;
GtkWidget* fenetre = nullptr;
GtkWidget* devant = nullptr;  // the window that takes the focus
int clicsEnvoyer = 0, clicsReglages = 0;
std::string actives;

struct Nomme {
    const char* nom;
    GtkWidget* w;
};
std::vector<Nomme> nommes;

void ecrire(const char* nom, const std::string& valeur) {
    if (dossier.empty()) return;
    const std::string chemin = dossier + "/" + nom;
    g_file_set_contents(chemin.c_str(), valeur.data(), static_cast<gssize>(valeur.size()), nullptr);
}

void publierClics() { ecrire("clics", std::to_string(clicsEnvoyer) + " " + std::to_string(clicsReglages)); }

void activer(const std::string& nom) {
    actives += nom + "\n";
    ecrire("actives", actives);
}

gboolean publierGeometrie(gpointer) {
    // Without a window manager nobody gives us the focus; the readers look for it.
    gdk_window_focus(gtk_widget_get_window(devant), GDK_CURRENT_TIME);
    std::string g;
    for (auto& n : nommes) {
        GtkWidget* haut = gtk_widget_get_toplevel(n.w);
        int ox = 0, oy = 0, x = 0, y = 0;
        gdk_window_get_origin(gtk_widget_get_window(haut), &ox, &oy);
        gtk_widget_translate_coordinates(n.w, haut, 0, 0, &x, &y);
        GtkAllocation a;
        gtk_widget_get_allocation(n.w, &a);
        g += std::string(n.nom) + " " + std::to_string(ox + x) + " " + std::to_string(oy + y) + " " +
             std::to_string(a.width) + " " + std::to_string(a.height) + "\n";
    }
    ecrire("geometrie", g);
    publierClics();
    ecrire("actives", actives);
    ecrire("pret", "1");
    return G_SOURCE_REMOVE;
}

GtkWidget* nommer(const char* nom, GtkWidget* w) {
    nommes.push_back({nom, w});
    return w;
}

// A field reports the focus it receives under the name given here.
void suivreFocus(GtkWidget* champ, const char* nom) {
    g_signal_connect(champ, "focus-in-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer n) {
                         activer(static_cast<const char*>(n));
                         return FALSE;
                     }),
                     const_cast<char*>(nom));
}

// Menus as an editor has them: dozens of items, all in closed menus, a closed submenu in each.
GtkWidget* barreDeMenus() {
    GtkWidget* barre = gtk_menu_bar_new();
    for (const char* t : {"_Fichier", "É_dition", "_Affichage", "_Outils", "Documen_ts", "Ai_de"}) {
        GtkWidget* titre = gtk_menu_item_new_with_mnemonic(t);
        GtkWidget* menu = gtk_menu_new();
        for (int i = 1; i <= 10; ++i) {
            const std::string a = i == 5 && !std::strcmp(t, "É_dition") ? "Coller" : "Article " + std::to_string(i);
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_menu_item_new_with_label(a.c_str()));
        }
        GtkWidget* recents = gtk_menu_item_new_with_label("Récents");
        GtkWidget* sous = gtk_menu_new();
        for (int i = 1; i <= 8; ++i)
            gtk_menu_shell_append(GTK_MENU_SHELL(sous), gtk_menu_item_new_with_label(("Document " + std::to_string(i)).c_str()));
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(recents), sous);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), recents);
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(titre), menu);
        gtk_menu_shell_append(GTK_MENU_SHELL(barre), titre);
    }
    return barre;
}

GtkWidget* nouvelleFenetre(const char* titre, int largeur, int hauteur) {
    GtkWidget* f = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(f), titre);
    gtk_window_set_default_size(GTK_WINDOW(f), largeur, hauteur);
    gtk_window_move(GTK_WINDOW(f), 40, 30);
    g_signal_connect(f, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    return f;
}

void principale(int lignes) {
    fenetre = nouvelleFenetre("Appli lecture", 700, 600);
    GtkWidget* boite = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(fenetre), boite);
    gtk_box_pack_start(GTK_BOX(boite), barreDeMenus(), FALSE, FALSE, 0);

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

    // Bulk rows: each adds a label and a button to the tree.
    GtkWidget* defile = nommer("rangees", gtk_scrolled_window_new(nullptr, nullptr));
    gtk_box_pack_start(GTK_BOX(boite), defile, TRUE, TRUE, 0);
    GtkWidget* grille = gtk_grid_new();
    gtk_container_add(GTK_CONTAINER(defile), grille);
    for (int i = 0; i < lignes; ++i) {
        const std::string n = std::to_string(i + 1);
        gtk_grid_attach(GTK_GRID(grille), gtk_label_new(("Ligne " + n).c_str()), 0, i, 1, 1);
        gtk_grid_attach(GTK_GRID(grille), gtk_button_new_with_label(("Bouton " + n).c_str()), 1, i, 1, 1);
    }
    gtk_widget_show_all(fenetre);
    devant = fenetre;
}

void touches() {
    fenetre = nouvelleFenetre("Calculette", 320, 360);
    GtkWidget* boite = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(fenetre), boite);
    gtk_box_pack_start(GTK_BOX(boite), gtk_label_new("0"), FALSE, FALSE, 0);  // the display
    GtkWidget* grille = gtk_grid_new();
    gtk_box_pack_start(GTK_BOX(boite), grille, TRUE, TRUE, 0);
    // Backspace first in tree order, as on the calculator that showed the fault.
    const char* cles[] = {"<-", "7", "8", "9", "÷", "4", "5", "6", "×", "1", "2", "3", "-", "0", ",", "=", "+"};
    int i = 0;
    for (const char* c : cles) {
        GtkWidget* t = nommer(c, gtk_toggle_button_new_with_label(c));
        g_signal_connect(t, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer) {
                             activer(gtk_button_get_label(GTK_BUTTON(b)));
                         }),
                         nullptr);
        gtk_grid_attach(GTK_GRID(grille), t, i % 4, i / 4, 1, 1);
        ++i;
    }
    gtk_widget_show_all(fenetre);
    devant = fenetre;
}

void dialogue() {
    fenetre = nouvelleFenetre("Éditeur", 700, 500);
    GtkWidget* boite = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(fenetre), boite);
    gtk_box_pack_start(GTK_BOX(boite), barreDeMenus(), FALSE, FALSE, 0);
    GtkWidget* document = gtk_text_view_new();
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(document)), "Texte du document", -1);
    gtk_box_pack_start(GTK_BOX(boite), document, TRUE, TRUE, 0);
    gtk_widget_show_all(fenetre);

    // The save dialog: its fields are named by the labels beside them, and the name field
    // holds a value that contains the OK button's name.
    GtkWidget* d = gtk_dialog_new_with_buttons("Enregistrer sous", GTK_WINDOW(fenetre), GTK_DIALOG_MODAL, "_Annuler",
                                               GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_window_move(GTK_WINDOW(d), 200, 150);
    g_signal_connect(d, "response", G_CALLBACK(+[](GtkDialog*, gint r, gpointer) {
                         activer(r == GTK_RESPONSE_OK ? "OK" : r == GTK_RESPONSE_CANCEL ? "Annuler" : "autre");
                     }),
                     nullptr);
    GtkWidget* grille = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grille), 8);
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(d))), grille);
    struct Champ {
        const char *etiquette, *valeur, *nom;
    };
    int ligne = 0;
    for (const Champ& c : {Champ{"_Nom :", "notebook.txt", "nom"}, Champ{"_Dossier :", "", "dossier"}}) {
        GtkWidget* l = gtk_label_new_with_mnemonic(c.etiquette);
        GtkWidget* e = nommer(c.nom, gtk_entry_new());
        gtk_entry_set_text(GTK_ENTRY(e), c.valeur);
        gtk_label_set_mnemonic_widget(GTK_LABEL(l), e);
        suivreFocus(e, c.nom);
        gtk_grid_attach(GTK_GRID(grille), l, 0, ligne, 1, 1);
        gtk_grid_attach(GTK_GRID(grille), e, 1, ligne, 1, 1);
        ++ligne;
    }
    gtk_widget_show_all(d);
    gtk_window_present(GTK_WINDOW(d));
    devant = d;
}

void pave() {
    fenetre = nouvelleFenetre("Pavé", 1200, 500);
    GtkWidget* grille = gtk_grid_new();
    gtk_container_add(GTK_CONTAINER(fenetre), grille);
    for (int i = 0; i < 200; ++i)
        gtk_grid_attach(GTK_GRID(grille), gtk_button_new_with_label(("Case " + std::to_string(i + 1)).c_str()), i % 20,
                        i / 20, 1, 1);
    gtk_widget_show_all(fenetre);
    devant = fenetre;
}

}  // namespace

int main(int argc, char** argv) {
    int lignes = 0;
    std::string scene = "principale";
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--etat")) dossier = argv[i + 1];
        if (!std::strcmp(argv[i], "--lignes")) lignes = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--scene")) scene = argv[i + 1];
    }
    g_set_prgname("appli-lecture");
    g_set_application_name("Appli lecture");
    gtk_init(&argc, &argv);
    if (scene == "touches")
        touches();
    else if (scene == "dialogue")
        dialogue();
    else if (scene == "pave")
        pave();
    else
        principale(lignes);
    gtk_window_present(GTK_WINDOW(devant));
    if (!dossier.empty()) g_timeout_add(300, publierGeometrie, nullptr);
    gtk_main();
}
