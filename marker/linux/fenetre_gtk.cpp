// The overlay on X11 through GTK: an override-redirect popup over the primary monitor with an
// empty input shape. With a compositing manager it uses an ARGB visual; without one its shape
// is cut to what is drawn. Follows the compositor coming and going. Main thread only.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <map>

#include "agent/linux/ecran_x11.h"
#include "marker/marqueur.h"

namespace vimba {
namespace {

// A cairo region destroyed with its scope.
struct Region {
    cairo_region_t* r;
    explicit Region(cairo_region_t* r_ = cairo_region_create()) : r(r_) {}
    ~Region() { cairo_region_destroy(r); }
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;
};

class FenetreGtk final : public FenetreMarqueur {
public:
    // On an X display of its own when given one (Xwayland under a Wayland session).
    explicit FenetreGtk(GdkDisplay* affichage = nullptr) : affichage_(affichage) {}
    ~FenetreGtk() override {
        if (ecoute_) g_signal_handler_disconnect(ecranGdk(), ecoute_);
        if (fenetre_) gtk_widget_destroy(fenetre_);
    }

    std::optional<Zone> ecran() override {
        GdkDisplay* d = affichage_ ? affichage_ : gdk_display_get_default();
        if (!d || !GDK_IS_X11_DISPLAY(d)) return std::nullopt;
        auto m = x11::moniteurPrincipal(GDK_DISPLAY_XDISPLAY(d));
        if (m.largeur <= 0 || m.hauteur <= 0) return std::nullopt;
        return Zone{m.x, m.y, m.largeur, m.hauteur};
    }

    void preparer(const Zone& ecran, VueMarqueur& vue) override {
        vue_ = &vue;
        if (!fenetre_) {
            creer();
            vue.police = famillePolice();
        }
        gtk_window_move(GTK_WINDOW(fenetre_), ecran.x, ecran.y);
        gtk_window_resize(GTK_WINDOW(fenetre_), ecran.largeur, ecran.hauteur);
        gtk_widget_set_size_request(fenetre_, ecran.largeur, ecran.hauteur);
    }

    void devant() override {
        gtk_widget_show(fenetre_);
        if (auto* g = gtk_widget_get_window(fenetre_)) {
            gdk_window_raise(g);
            laisserPasser(g);
        }
    }

    void cacher() override {
        if (fenetre_) gtk_widget_hide(fenetre_);
    }

    void redessiner(std::optional<Zone> zone) override {
        if (!fenetre_ || !vue_) return;
        if (!zone) {
            if (!composite_) couperForme(nullptr);
            gtk_widget_queue_draw(fenetre_);
            return;
        }
        // Where the ring was and where it is now: the same square, the centre does not move.
        if (!composite_) couperForme(&*zone);
        gtk_widget_queue_draw_area(fenetre_, zone->x, zone->y, zone->largeur, zone->hauteur);
    }

private:
    GdkScreen* ecranGdk() const {
        return affichage_ ? gdk_display_get_default_screen(affichage_) : gdk_screen_get_default();
    }

    // GTK resets the input shape of its windows as it sees fit; set it empty on the X window
    // itself each time the overlay is shown, so the pointer always goes to the windows below.
    static void laisserPasser(GdkWindow* g) {
        Display* x = GDK_WINDOW_XDISPLAY(g);
        XserverRegion vide = XFixesCreateRegion(x, nullptr, 0);
        XFixesSetWindowShapeRegion(x, GDK_WINDOW_XID(g), ShapeInput, 0, 0, vide);
        XFixesDestroyRegion(x, vide);
    }

    // The family of the interface font the desktop set for GTK.
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

    void creer() {
        fenetre_ = gtk_window_new(GTK_WINDOW_POPUP);
        gtk_window_set_screen(GTK_WINDOW(fenetre_), ecranGdk());
        gtk_widget_set_app_paintable(fenetre_, TRUE);
        gtk_window_set_keep_above(GTK_WINDOW(fenetre_), TRUE);
        gtk_window_set_accept_focus(GTK_WINDOW(fenetre_), FALSE);
        gtk_window_set_title(GTK_WINDOW(fenetre_), "vimba-marqueur");
        Region vide;
        gtk_widget_input_shape_combine_region(fenetre_, vide.r);
        g_signal_connect(fenetre_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer moi) {
                             static_cast<FenetreGtk*>(moi)->dessiner(cr);
                             return gboolean(TRUE);
                         }),
                         this);
        ecoute_ = g_signal_connect(ecranGdk(), "composited-changed",
                                   G_CALLBACK(+[](GdkScreen*, gpointer moi) {
                                       static_cast<FenetreGtk*>(moi)->suivreComposition();
                                   }),
                                   this);
        choisirVisuel();
    }

    void choisirVisuel() {
        GdkScreen* ecran = ecranGdk();
        composite_ = gdk_screen_is_composited(ecran);
        GdkVisual* argb = gdk_screen_get_rgba_visual(ecran);
        gtk_widget_set_visual(fenetre_, composite_ && argb ? argb : gdk_screen_get_system_visual(ecran));
        if (composite_) {
            gtk_widget_shape_combine_region(fenetre_, nullptr);
        } else {
            couperForme(nullptr);
        }
    }

    // The visual cannot change on a realized window: rebuild it, keeping it shown if it was.
    void suivreComposition() {
        if (!fenetre_) return;
        const bool visible = gtk_widget_get_visible(fenetre_);
        gtk_widget_hide(fenetre_);
        gtk_widget_unrealize(fenetre_);
        choisirVisuel();
        if (visible) devant();
    }

    // Without a compositor the window shows only inside its shape: the drawn pixels. For a
    // pulse tick only the ring's square is measured again.
    void couperForme(const Zone* zone) {
        if (!vue_) return;
        const int l = static_cast<int>(vue_->largeur()), h = static_cast<int>(vue_->hauteur());
        const cairo_rectangle_int_t z = zone ? cairo_rectangle_int_t{zone->x, zone->y, zone->largeur, zone->hauteur}
                                             : cairo_rectangle_int_t{0, 0, l, h};
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, z.width, z.height);
        cairo_t* cr = cairo_create(s);
        cairo_translate(cr, -z.x, -z.y);
        vue_->dessiner(cr);
        cairo_destroy(cr);
        cairo_surface_flush(s);
        Region dessine(gdk_cairo_region_create_from_surface(s));
        cairo_surface_destroy(s);
        cairo_region_translate(dessine.r, z.x, z.y);
        if (zone && forme_) {
            cairo_region_subtract_rectangle(forme_->r, &z);
            cairo_region_union(forme_->r, dessine.r);
        } else {
            forme_ = std::make_unique<Region>(cairo_region_copy(dessine.r));
        }
        gtk_widget_shape_combine_region(fenetre_, forme_->r);
    }

    void dessiner(cairo_t* cr) {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
        if (vue_) vue_->dessiner(cr);
    }

    GdkDisplay* affichage_;
    GtkWidget* fenetre_ = nullptr;
    VueMarqueur* vue_ = nullptr;
    gulong ecoute_ = 0;
    bool composite_ = false;
    std::unique_ptr<Region> forme_;
};

// GLib timeouts; each holds its action until it is cancelled or, one-shot, has fired.
class MinuterieGLib final : public Minuterie {
public:
    ~MinuterieGLib() override {
        for (auto& [id, a] : actions_) g_source_remove(id);
    }
    unsigned armer(double secondes, bool repete, std::function<void()> action) override {
        auto* a = new Action{this, repete, std::move(action), 0};
        a->id = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(secondes * 1000 + 0.5), &MinuterieGLib::tic,
                                   a, nullptr);
        actions_.emplace(a->id, std::unique_ptr<Action>(a));
        return a->id;
    }
    void annuler(unsigned id) override {
        auto it = actions_.find(id);
        if (it == actions_.end()) return;
        g_source_remove(id);
        actions_.erase(it);
    }

private:
    struct Action {
        MinuterieGLib* maitre;
        bool repete;
        std::function<void()> faire;
        guint id;
    };
    static gboolean tic(gpointer p) {
        auto* a = static_cast<Action*>(p);
        if (a->repete) {
            a->faire();
            return G_SOURCE_CONTINUE;
        }
        // Spent before it runs, so the action may arm or cancel anything.
        auto garde = std::move(a->maitre->actions_[a->id]);
        a->maitre->actions_.erase(a->id);
        garde->faire();
        return G_SOURCE_REMOVE;
    }
    std::map<guint, std::unique_ptr<Action>> actions_;
};

}  // namespace

std::unique_ptr<FenetreMarqueur> creerFenetreX11() { return std::make_unique<FenetreGtk>(); }

std::unique_ptr<FenetreMarqueur> creerFenetreXwayland() {
    // The X display the Wayland compositor runs for X11 clients; GDK opens it beside the
    // Wayland one when the session lets both back ends be used.
    const char* nom = g_getenv("DISPLAY");
    GdkDisplay* x = nom && *nom ? gdk_display_open(nom) : nullptr;
    if (x && !GDK_IS_X11_DISPLAY(x)) {
        gdk_display_close(x);
        x = nullptr;
    }
    return std::make_unique<FenetreGtk>(x);
}
std::unique_ptr<Minuterie> creerMinuterieGLib() { return std::make_unique<MinuterieGLib>(); }

}  // namespace vimba
