// A small GTK3 window for the desktop tests: a toggle button, a check box, an entry, a
// password entry, a text view, a read-only text, a double-click zone and a scrolled list.
// It writes its state, one file per fact, into the folder given with --etat, and the
// root-coordinate rectangle of each widget into "geometrie"; "pret" appears once shown.
// The zone also logs the server time of its presses ("temps": type and time, the double
// click's extra event as type 2) and releases ("lachers"). SIGUSR1 keeps its main loop
// busy for 20 s: running, yet answering nothing.
//   appli_essai --etat DIR [--nom NAME] [--titre TITLE] [--focus entree|mdp|texte|aucun] [--sans-accessibilite]
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string dossier;
GtkWidget* fenetre = nullptr;
int simples = 0, doubles = 0, menus = 0;

void ecrire(const char* nom, const std::string& valeur) {
    g_file_set_contents((dossier + "/" + nom).c_str(), valeur.data(), static_cast<gssize>(valeur.size()), nullptr);
}

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
    const char* nom;
    GtkWidget* w;
};
std::vector<Nomme> nommes;

GtkWidget* nommer(const char* nom, GtkWidget* w) {
    nommes.push_back({nom, w});
    return w;
}

bool sansFocus = false;

gboolean publierGeometrie(gpointer) {
    if (sansFocus) gtk_window_set_focus(GTK_WINDOW(fenetre), nullptr);
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
    ecrire("pret", "1");
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    const char* nom = "Appli essai";
    const char* focus = "entree";
    const char* titre = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--sans-accessibilite")) g_setenv("NO_AT_BRIDGE", "1", TRUE);
        if (i + 1 == argc) continue;
        if (!std::strcmp(argv[i], "--etat")) dossier = argv[i + 1];
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

    fenetre = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(fenetre), titre ? titre : nom);
    gtk_window_set_default_size(GTK_WINDOW(fenetre), 500, 720);
    gtk_window_set_resizable(GTK_WINDOW(fenetre), FALSE);
    gtk_window_move(GTK_WINDOW(fenetre), 40, 40);
    g_signal_connect(fenetre, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    GtkWidget* boite = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_add(GTK_CONTAINER(fenetre), boite);

    GtkWidget* bouton = nommer("bouton", gtk_toggle_button_new_with_label("Bouton"));
    g_signal_connect(bouton, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer) {
                         ecrire("bouton", gtk_toggle_button_get_active(b) ? "1" : "0");
                     }), nullptr);
    GtkWidget* coche = nommer("coche", gtk_check_button_new_with_label("Coche"));
    g_signal_connect(coche, "toggled", G_CALLBACK(+[](GtkToggleButton* b, gpointer) {
                         ecrire("coche", gtk_toggle_button_get_active(b) ? "1" : "0");
                     }), nullptr);
    GtkWidget* entree = nommer("entree", gtk_entry_new());
    g_signal_connect(entree, "changed", G_CALLBACK(+[](GtkEditable* e, gpointer) {
                         ecrire("entree", gtk_entry_get_text(GTK_ENTRY(e)));
                     }), nullptr);
    GtkWidget* mdp = nommer("mdp", gtk_entry_new());
    gtk_entry_set_visibility(GTK_ENTRY(mdp), FALSE);
    gtk_entry_set_input_purpose(GTK_ENTRY(mdp), GTK_INPUT_PURPOSE_PASSWORD);
    g_signal_connect(mdp, "changed", G_CALLBACK(+[](GtkEditable* e, gpointer) {
                         ecrire("mdp", gtk_entry_get_text(GTK_ENTRY(e)));
                     }), nullptr);

    // Fixed sizes, so that the widgets stay where "geometrie" says whatever is typed.
    GtkWidget* texte = nommer("texte", gtk_text_view_new());
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(texte), GTK_WRAP_CHAR);
    GtkWidget* cadreTexte = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_widget_set_size_request(cadreTexte, -1, 100);
    gtk_container_add(GTK_CONTAINER(cadreTexte), texte);
    g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(texte)), "changed",
                     G_CALLBACK(+[](GtkTextBuffer* b, gpointer) { ecrire("texte", contenu(b, false)); }), nullptr);
    g_signal_connect(texte, "populate-popup", G_CALLBACK(+[](GtkTextView*, GtkWidget*, gpointer) {
                         ecrire("menu", std::to_string(++menus));
                     }), nullptr);

    GtkWidget* lecture = nommer("lecture", gtk_text_view_new());
    gtk_text_view_set_editable(GTK_TEXT_VIEW(lecture), FALSE);
    GtkTextBuffer* bl = gtk_text_view_get_buffer(GTK_TEXT_VIEW(lecture));
    gtk_text_buffer_set_text(bl, "alpha bravo charlie", -1);
    g_signal_connect(bl, "mark-set", G_CALLBACK(+[](GtkTextBuffer* b, GtkTextIter*, GtkTextMark*, gpointer) {
                         ecrire("selection", contenu(b, true));
                     }), nullptr);

    GtkWidget* zone = nommer("zone", gtk_event_box_new());
    gtk_container_add(GTK_CONTAINER(zone), gtk_label_new("Zone"));
    gtk_widget_set_size_request(zone, -1, 50);
    g_signal_connect(zone, "button-release-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer) -> gboolean {
                         static std::string lachers;
                         lachers += std::to_string(e->time) + "\n";
                         ecrire("lachers", lachers);
                         return TRUE;
                     }), nullptr);
    g_signal_connect(zone, "button-press-event", G_CALLBACK(+[](GtkWidget*, GdkEventButton* e, gpointer) -> gboolean {
                         static std::string temps;
                         temps += std::to_string(e->type == GDK_BUTTON_PRESS ? 1 : 2) + " " + std::to_string(e->time) + "\n";
                         ecrire("temps", temps);
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
    g_signal_connect(gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(defile)), "value-changed",
                     G_CALLBACK(+[](GtkAdjustment* a, gpointer) {
                         ecrire("defilement", std::to_string(static_cast<int>(gtk_adjustment_get_value(a))));
                     }), nullptr);

    for (GtkWidget* w : {bouton, coche, entree, mdp, cadreTexte, lecture, zone}) gtk_box_pack_start(GTK_BOX(boite), w, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(boite), defile, TRUE, TRUE, 0);

    for (auto* f : {"bouton", "coche"}) ecrire(f, "0");
    for (auto* f : {"entree", "mdp", "texte", "selection"}) ecrire(f, "");
    ecrire("zone", "0 0");
    ecrire("menu", "0");
    ecrire("defilement", "0");

    gtk_widget_show_all(fenetre);
    sansFocus = !std::strcmp(focus, "aucun");
    GtkWidget* focale = !std::strcmp(focus, "mdp") ? mdp : !std::strcmp(focus, "texte") ? texte : entree;
    gtk_widget_grab_focus(focale);
    gtk_window_present(GTK_WINDOW(fenetre));
    g_signal_connect(fenetre, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                         g_timeout_add(200, publierGeometrie, nullptr);
                         return FALSE;
                     }), nullptr);
    g_unix_signal_add(SIGUSR1, [](gpointer) -> gboolean {
        const gint64 fin = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
        while (g_get_monotonic_time() < fin) {
        }
        return G_SOURCE_CONTINUE;
    }, nullptr);
    gtk_main();
    return 0;
}
