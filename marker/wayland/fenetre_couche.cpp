// The overlay on wlroots and KDE: a layer-shell surface on the overlay layer over the main
// output, above every window and full-screen one, that takes neither the keyboard nor the
// pointer (empty input region) and pushes nothing aside. Main thread only.
#include <gtk-layer-shell/gtk-layer-shell.h>
#include <gtk/gtk.h>

#include "agent/wayland/sortie.h"
#include "marker/marqueur.h"

namespace vimba {
namespace {

class FenetreCouche final : public FenetreMarqueur {
public:
    ~FenetreCouche() override {
        if (fenetre_) gtk_widget_destroy(fenetre_);
    }

    std::optional<Zone> ecran() override {
        const auto s = wayland::sortiePrincipale();
        if (!s) return std::nullopt;
        sortie_ = *s;
        return Zone{s->x, s->y, s->largeur, s->hauteur};
    }

    void preparer(const Zone&, VueMarqueur& vue) override {
        vue_ = &vue;
        if (!fenetre_) {
            creer();
            vue.police = famillePolice();
        }
        // Anchored to every edge, the compositor gives it the whole output.
        if (GdkMonitor* m = moniteur()) gtk_layer_set_monitor(GTK_WINDOW(fenetre_), m);
    }

    void devant() override {
        gtk_widget_show(fenetre_);
        laisserPasser();
    }

    void cacher() override {
        if (fenetre_) gtk_widget_hide(fenetre_);
    }

    void redessiner(std::optional<Zone> zone) override {
        if (!fenetre_ || !vue_) return;
        if (zone)
            gtk_widget_queue_draw_area(fenetre_, zone->x, zone->y, zone->largeur, zone->hauteur);
        else
            gtk_widget_queue_draw(fenetre_);
    }

private:
    void creer() {
        fenetre_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        GtkWindow* w = GTK_WINDOW(fenetre_);
        gtk_layer_init_for_window(w);
        gtk_layer_set_namespace(w, "vimba-marqueur");
        gtk_layer_set_layer(w, GTK_LAYER_SHELL_LAYER_OVERLAY);
        for (auto bord : {GTK_LAYER_SHELL_EDGE_LEFT, GTK_LAYER_SHELL_EDGE_RIGHT, GTK_LAYER_SHELL_EDGE_TOP,
                          GTK_LAYER_SHELL_EDGE_BOTTOM})
            gtk_layer_set_anchor(w, bord, TRUE);
        gtk_layer_set_exclusive_zone(w, -1);
        gtk_layer_set_keyboard_mode(w, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
        gtk_window_set_title(w, "vimba-marqueur");
        gtk_widget_set_app_paintable(fenetre_, TRUE);
        if (GdkVisual* argb = gdk_screen_get_rgba_visual(gtk_widget_get_screen(fenetre_)))
            gtk_widget_set_visual(fenetre_, argb);
        cairo_region_t* vide = cairo_region_create();
        gtk_widget_input_shape_combine_region(fenetre_, vide);
        cairo_region_destroy(vide);
        g_signal_connect(fenetre_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer moi) {
                             static_cast<FenetreCouche*>(moi)->dessiner(cr);
                             return gboolean(TRUE);
                         }),
                         this);
    }

    // GTK may set the surface's input region again as it sees fit: empty it each time it shows.
    void laisserPasser() {
        if (GdkWindow* g = gtk_widget_get_window(fenetre_)) {
            cairo_region_t* vide = cairo_region_create();
            gdk_window_input_shape_combine_region(g, vide, 0, 0);
            cairo_region_destroy(vide);
        }
    }

    // GDK's monitor of the same logical place as the main output, none when none matches
    // (the compositor then picks one, usually the focused output, which is ours on sway).
    GdkMonitor* moniteur() const {
        GdkDisplay* d = gtk_widget_get_display(fenetre_);
        for (int i = 0, n = gdk_display_get_n_monitors(d); i < n; ++i) {
            GdkMonitor* m = gdk_display_get_monitor(d, i);
            GdkRectangle g;
            gdk_monitor_get_geometry(m, &g);
            if (g.x == sortie_.x && g.y == sortie_.y && g.width == sortie_.largeur && g.height == sortie_.hauteur)
                return m;
        }
        return nullptr;
    }

    static std::string famillePolice() {
        gchar* nom = nullptr;
        g_object_get(gtk_settings_get_default(), "gtk-font-name", &nom, nullptr);
        std::string famille = "Sans";
        if (nom) {
            PangoFontDescription* d = pango_font_description_from_string(nom);
            if (const char* f = pango_font_description_get_family(d)) famille = f;
            pango_font_description_free(d);
            g_free(nom);
        }
        return famille;
    }

    void dessiner(cairo_t* cr) {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
        if (vue_) vue_->dessiner(cr);
    }

    GtkWidget* fenetre_ = nullptr;
    VueMarqueur* vue_ = nullptr;
    wayland::Sortie sortie_;
};

}  // namespace

std::unique_ptr<FenetreMarqueur> creerFenetreCouche() { return std::make_unique<FenetreCouche>(); }

}  // namespace vimba
