// The GTK3 window of the desktop tests and benchmarks, in scenes. It writes its state, one
// file per fact, into the folder given with --etat: the root-coordinate rectangle of each
// named widget ("geometrie"), one line per control activated ("actives") and "pret" once
// shown.
//   appli_essai --etat DIR [--scene saisie|lecture|touches|dialogue|pave|bouton] [--lignes N [--groupes G]]
//               [--nom NAME] [--titre TITLE] [--focus entree|mdp|texte|aucun] [--sans-accessibilite]
// saisie: a toggle button, a check box, an entry, a password entry, a text view, a read-only
//   text, a double-click zone and a scrolled list, each with a state file; the zone also logs
//   the server time of its presses ("temps": type and time, the double click's extra event as
//   type 2) and releases ("lachers"). SIGUSR1 keeps the main loop busy for 20 s.
// lecture: a menu bar whose menus stay closed, a few known controls, then N labelled rows.
// touches: a calculator's keys, toggle buttons whose value "0" or "1" says pressed or not.
// dialogue: a window with menus under a modal save dialog whose fields are named by labels.
// pave: 200 buttons, all on screen at once. bouton: one button filling an undecorated window.
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::string dossier, actives;
GtkWidget* devant = nullptr;  // the window that takes the focus
bool sansFocus = false;
int simples = 0, doubles = 0, menus = 0;

void ecrire(const char* nom, const std::string& valeur) {
    g_file_set_contents((dossier + "/" + nom).c_str(), valeur.data(), static_cast<gssize>(valeur.size()), nullptr);
}
void activer(const std::string& nom) { ecrire("actives", actives += nom + "\n"); }

std::string contenu(GtkTextBuffer* b, bool selection) {
    GtkTextIter debut, fin;
    if (selection) {
        if (!gtk_text_buffer_get_selection_bounds(b, &debut, &fin)) return "";
    } else {
        gtk_text_buffer_get_bounds(b, &debut, &fin);
    }
    gchar* t = gtk_text_buffer_get_text(b, &debut, &fin, FALSE);
    std::string s = t;
    g_free(t);
    return s;
}

struct Nomme {
    std::string nom;
    GtkWidget* w;
};
std::vector<Nomme> nommes;
GtkWidget* nommer(const std::string& nom, GtkWidget* w) {
    nommes.push_back({nom, w});
    return w;
}

// Its label on each activation; a toggle's state too in a file of its name, when asked.
GtkWidget* bouton(GtkWidget* b, const char* nom, bool fichier = false) {
    g_signal_connect(b, GTK_IS_TOGGLE_BUTTON(b) ? "toggled" : "clicked", G_CALLBACK(+[](GtkButton* b, gpointer f) {
                         activer(gtk_button_get_label(b));
                         if (f) ecrire(static_cast<const char*>(f), gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b)) ? "1" : "0");
                     }), fichier ? const_cast<char*>(nom) : nullptr);
    return nommer(nom, b);
}

gboolean publierGeometrie(gpointer) {
    // Without a window manager nobody gives us the focus; the readers look for it.
    if (sansFocus) gtk_window_set_focus(GTK_WINDOW(devant), nullptr);
    gdk_window_focus(gtk_widget_get_window(devant), GDK_CURRENT_TIME);
    std::string g;
    for (auto& n : nommes) {
        GtkWidget* haut = gtk_widget_get_toplevel(n.w);
        int ox = 0, oy = 0, x = 0, y = 0;
        gdk_window_get_origin(gtk_widget_get_window(haut), &ox, &oy);
        gtk_widget_translate_coordinates(n.w, haut, 0, 0, &x, &y);
        GtkAllocation a;
        gtk_widget_get_allocation(n.w, &a);
        g += n.nom + " " + std::to_string(ox + x) + " " + std::to_string(oy + y) + " " + std::to_string(a.width) + " " +
             std::to_string(a.height) + "\n";
    }
    ecrire("geometrie", g);
    ecrire("pret", "1");
    return G_SOURCE_REMOVE;
}

GtkWidget* fenetre(const char* titre, int largeur, int hauteur, int x, int y) {
    GtkWidget* f = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(f), titre);
    gtk_window_set_default_size(GTK_WINDOW(f), largeur, hauteur);
    gtk_window_move(GTK_WINDOW(f), x, y);
    g_signal_connect(f, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    return devant = f;
}
GtkWidget* boite(GtkWidget* dans, GtkOrientation sens = GTK_ORIENTATION_VERTICAL) {
    GtkWidget* b = gtk_box_new(sens, 4);
    gtk_container_add(GTK_CONTAINER(dans), b);
    return b;
}
void empiler(GtkWidget* b, GtkWidget* w, bool etendre = false) { gtk_box_pack_start(GTK_BOX(b), w, etendre, etendre, 0); }

void saisie(const char* titre, const char* focus) {
    GtkWidget* f = fenetre(titre, 500, 720, 40, 40);
    gtk_window_set_resizable(GTK_WINDOW(f), FALSE);
    GtkWidget* b = boite(f);
    empiler(b, bouton(gtk_toggle_button_new_with_label("Bouton"), "bouton", true));
    empiler(b, bouton(gtk_check_button_new_with_label("Coche"), "coche", true));
    GtkWidget* champs[2];
    for (int i = 0; i < 2; ++i) {
        empiler(b, champs[i] = nommer(i ? "mdp" : "entree", gtk_entry_new()));
        g_signal_connect(champs[i], "changed", G_CALLBACK(+[](GtkEditable* e, gpointer n) {
                             ecrire(static_cast<const char*>(n), gtk_entry_get_text(GTK_ENTRY(e)));
                         }), const_cast<char*>(i ? "mdp" : "entree"));
    }
    gtk_entry_set_visibility(GTK_ENTRY(champs[1]), FALSE);
    gtk_entry_set_input_purpose(GTK_ENTRY(champs[1]), GTK_INPUT_PURPOSE_PASSWORD);

    // Fixed sizes, so that the widgets stay where "geometrie" says whatever is typed.
    GtkWidget* texte = nommer("texte", gtk_text_view_new());
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(texte), GTK_WRAP_CHAR);
    GtkWidget* cadreTexte = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_widget_set_size_request(cadreTexte, -1, 100);
    gtk_container_add(GTK_CONTAINER(cadreTexte), texte);
    empiler(b, cadreTexte);
    g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(texte)), "changed",
                     G_CALLBACK(+[](GtkTextBuffer* b, gpointer) { ecrire("texte", contenu(b, false)); }), nullptr);
    g_signal_connect(texte, "populate-popup", G_CALLBACK(+[](GtkTextView*, GtkWidget*, gpointer) {
                         ecrire("menu", std::to_string(++menus));
                     }), nullptr);

    GtkWidget* lecture = nommer("lecture", gtk_text_view_new());
    gtk_text_view_set_editable(GTK_TEXT_VIEW(lecture), FALSE);
    empiler(b, lecture);
    GtkTextBuffer* bl = gtk_text_view_get_buffer(GTK_TEXT_VIEW(lecture));
    gtk_text_buffer_set_text(bl, "alpha bravo charlie", -1);
    g_signal_connect(bl, "mark-set", G_CALLBACK(+[](GtkTextBuffer* b, GtkTextIter*, GtkTextMark*, gpointer) {
                         ecrire("selection", contenu(b, true));
                     }), nullptr);

    GtkWidget* zone = nommer("zone", gtk_event_box_new());
    gtk_container_add(GTK_CONTAINER(zone), gtk_label_new("Zone"));
    gtk_widget_set_size_request(zone, -1, 50);
    empiler(b, zone);
    g_signal_connect(zone, "button-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer) -> gboolean {
                         static std::string lachers;
                         ecrire("lachers", lachers += std::to_string(e->time) + "\n");
                         return TRUE;
                     }), nullptr);
    g_signal_connect(zone, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer) -> gboolean {
                         static std::string temps;
                         ecrire("temps", temps += std::to_string(e->type == GDK_BUTTON_PRESS ? 1 : 2) + " " + std::to_string(e->time) + "\n");
                         if (e->type == GDK_BUTTON_PRESS) ++simples;
                         if (e->type == GDK_2BUTTON_PRESS) ++doubles;
                         ecrire("zone", std::to_string(simples) + " " + std::to_string(doubles));
                         return TRUE;
                     }), nullptr);

    GtkWidget* defile = nommer("liste", gtk_scrolled_window_new(nullptr, nullptr));
    gtk_widget_set_size_request(defile, -1, 200);
    GtkWidget* liste = gtk_list_box_new();
    for (int i = 0; i < 300; ++i) gtk_container_add(GTK_CONTAINER(liste), gtk_label_new(("ligne " + std::to_string(i)).c_str()));
    gtk_container_add(GTK_CONTAINER(defile), liste);
    empiler(b, defile, true);
    g_signal_connect(gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(defile)), "value-changed",
                     G_CALLBACK(+[](GtkAdjustment* a, gpointer) {
                         ecrire("defilement", std::to_string(static_cast<int>(gtk_adjustment_get_value(a))));
                     }), nullptr);

    for (auto* n : {"bouton", "coche"}) ecrire(n, "0");
    for (auto* n : {"entree", "mdp", "texte", "selection"}) ecrire(n, "");
    ecrire("zone", "0 0");
    ecrire("menu", "0");
    ecrire("defilement", "0");
    gtk_widget_show_all(f);
    sansFocus = !std::strcmp(focus, "aucun");
    gtk_widget_grab_focus(!std::strcmp(focus, "mdp") ? champs[1] : !std::strcmp(focus, "texte") ? texte : champs[0]);
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

void lecture(const char* titre, int lignes, int groupes) {
    GtkWidget* b = boite(fenetre(titre, 700, 600, 40, 30));
    empiler(b, barreDeMenus());
    // The static text comes before the button that shares its words.
    empiler(b, nommer("texte", gtk_label_new("Réglages du compte")));
    GtkWidget* rangee = boite(b, GTK_ORIENTATION_HORIZONTAL);
    empiler(rangee, bouton(gtk_button_new_with_label("Envoyer"), "envoyer"));
    empiler(rangee, bouton(gtk_button_new_with_label("Réglages"), "reglages"));
    empiler(rangee, nommer("actif", gtk_check_button_new_with_label("Actif")));
    GtkWidget* entree = nommer("recherche", gtk_entry_new());
    gtk_entry_set_text(GTK_ENTRY(entree), "chat");
    atk_object_set_name(gtk_widget_get_accessible(entree), "Recherche");
    empiler(rangee, entree);
    // Bulk rows: each adds a label and a button to the tree.
    GtkWidget* defile = nommer("rangees", gtk_scrolled_window_new(nullptr, nullptr));
    empiler(b, defile, true);
    if (groupes > 0) {
        // The same rows in boxes of `groupes`, each row a box of its own: no family is large.
        GtkWidget* tout = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_container_add(GTK_CONTAINER(defile), tout);
        GtkWidget* groupe = nullptr;
        for (int i = 0; i < lignes; ++i) {
            if (i % groupes == 0) groupe = boite(tout);
            GtkWidget* r = boite(groupe, GTK_ORIENTATION_HORIZONTAL);
            const std::string n = std::to_string(i + 1);
            empiler(r, gtk_label_new(("Ligne " + n).c_str()));
            empiler(r, gtk_button_new_with_label(("Bouton " + n).c_str()));
        }
        return;
    }
    GtkWidget* grille = gtk_grid_new();
    gtk_container_add(GTK_CONTAINER(defile), grille);
    for (int i = 0; i < lignes; ++i) {
        const std::string n = std::to_string(i + 1);
        gtk_grid_attach(GTK_GRID(grille), gtk_label_new(("Ligne " + n).c_str()), 0, i, 1, 1);
        gtk_grid_attach(GTK_GRID(grille), gtk_button_new_with_label(("Bouton " + n).c_str()), 1, i, 1, 1);
    }
}

void touches() {
    GtkWidget* b = boite(fenetre("Calculette", 320, 360, 40, 30));
    empiler(b, gtk_label_new("0"));  // the display
    GtkWidget* grille = gtk_grid_new();
    empiler(b, grille, true);
    // Backspace first in tree order, as on the calculator that showed the fault.
    const char* cles[] = {"<-", "7", "8", "9", "÷", "4", "5", "6", "×", "1", "2", "3", "-", "0", ",", "=", "+"};
    for (int i = 0; i < 17; ++i)
        gtk_grid_attach(GTK_GRID(grille), bouton(gtk_toggle_button_new_with_label(cles[i]), cles[i]), i % 4, i / 4, 1, 1);
}

void dialogue() {
    GtkWidget* f = fenetre("Éditeur", 700, 500, 40, 30);
    GtkWidget* b = boite(f);
    empiler(b, barreDeMenus());
    GtkWidget* document = gtk_text_view_new();
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(document)), "Texte du document", -1);
    empiler(b, document, true);
    gtk_widget_show_all(f);
    // The save dialog: its fields are named by the labels beside them, and the name field
    // holds a value that contains the OK button's name.
    GtkWidget* d = gtk_dialog_new_with_buttons("Enregistrer sous", GTK_WINDOW(f), GTK_DIALOG_MODAL, "_Annuler",
                                               GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_window_move(GTK_WINDOW(d), 200, 150);
    g_signal_connect(d, "response", G_CALLBACK(+[](GtkDialog*, gint r, gpointer) {
                         activer(r == GTK_RESPONSE_OK ? "OK" : r == GTK_RESPONSE_CANCEL ? "Annuler" : "autre");
                     }), nullptr);
    GtkWidget* grille = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grille), 8);
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(d))), grille);
    int ligne = 0;
    for (auto [etiquette, valeur, nom] : {std::tuple{"_Nom :", "notebook.txt", "nom"}, std::tuple{"_Dossier :", "", "dossier"}}) {
        GtkWidget* l = gtk_label_new_with_mnemonic(etiquette);
        GtkWidget* e = nommer(nom, gtk_entry_new());
        gtk_entry_set_text(GTK_ENTRY(e), valeur);
        gtk_label_set_mnemonic_widget(GTK_LABEL(l), e);
        g_signal_connect(e, "focus-in-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer n) {
                             activer(static_cast<const char*>(n));
                             return FALSE;
                         }), const_cast<char*>(nom));
        gtk_grid_attach(GTK_GRID(grille), l, 0, ligne, 1, 1);
        gtk_grid_attach(GTK_GRID(grille), e, 1, ligne++, 1, 1);
    }
    devant = d;
}

void pave() {
    GtkWidget* grille = gtk_grid_new();
    gtk_container_add(GTK_CONTAINER(fenetre("Pavé", 1200, 500, 40, 30)), grille);
    for (int i = 0; i < 200; ++i)
        gtk_grid_attach(GTK_GRID(grille), gtk_button_new_with_label(("Case " + std::to_string(i + 1)).c_str()), i % 20, i / 20, 1, 1);
}

void boutonSeul(const char* titre) {
    GtkWidget* f = fenetre(titre, 800, 600, 0, 0);
    gtk_window_set_decorated(GTK_WINDOW(f), FALSE);
    gtk_container_add(GTK_CONTAINER(f), bouton(gtk_button_new_with_label("Bouton sous le repère"), "bouton"));
}

}  // namespace

int main(int argc, char** argv) {
    const char *nom = "Appli essai", *focus = "entree", *titre = nullptr;
    std::string scene = "saisie";
    int lignes = 0, groupes = 0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--sans-accessibilite")) g_setenv("NO_AT_BRIDGE", "1", TRUE);
        if (i + 1 == argc) continue;
        if (!std::strcmp(argv[i], "--etat")) dossier = argv[i + 1];
        if (!std::strcmp(argv[i], "--scene")) scene = argv[i + 1];
        if (!std::strcmp(argv[i], "--lignes")) lignes = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--groupes")) groupes = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--nom")) nom = argv[i + 1];
        if (!std::strcmp(argv[i], "--focus")) focus = argv[i + 1];
        if (!std::strcmp(argv[i], "--titre")) titre = argv[i + 1];
    }
    // The name is the AT-SPI application name and both parts of WM_CLASS.
    g_set_prgname(nom);
    gtk_init(&argc, &argv);
    gdk_set_program_class(nom);
    if (dossier.empty()) return 2;
    g_set_application_name(nom);
    titre = titre ? titre : nom;
    if (scene == "lecture") lecture(titre, lignes, groupes);
    else if (scene == "touches") touches();
    else if (scene == "dialogue") dialogue();
    else if (scene == "pave") pave();
    else if (scene == "bouton") boutonSeul(titre);
    else saisie(titre, focus);
    ecrire("actives", "");
    gtk_widget_show_all(devant);
    gtk_window_present(GTK_WINDOW(devant));
    g_signal_connect(devant, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                         g_timeout_add(200, publierGeometrie, nullptr);
                         return FALSE;
                     }), nullptr);
    g_unix_signal_add(SIGUSR1, [](gpointer) -> gboolean {
        for (const gint64 fin = g_get_monotonic_time() + 20 * G_USEC_PER_SEC; g_get_monotonic_time() < fin;) {
        }
        return G_SOURCE_CONTINUE;
    }, nullptr);
    gtk_main();
}
