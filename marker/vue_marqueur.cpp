#include "marker/vue_marqueur.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

namespace vimba {
namespace {

constexpr double kVert[3] = {0.208, 1.0, 0.412};
constexpr double kSombre[3] = {0.137, 0.137, 0.125};
constexpr double kCycle = 1.4;
constexpr double kMarge = 12, kEcart = 52, kLargeurMax = 460;

void couleur(cairo_t* cr, const double (&c)[3], double alpha) {
    cairo_set_source_rgba(cr, c[0], c[1], c[2], alpha);
}

void cercle(cairo_t* cr, double x, double y, double r) {
    cairo_new_path(cr);
    cairo_arc(cr, x, y, r, 0, 2 * M_PI);
}


// The label laid out in the system UI font, semibold 17, centred.
std::unique_ptr<PangoLayout, void (*)(gpointer)> etiquette(cairo_t* cr, const std::string& famille,
                                                          const std::string& texte) {
    std::unique_ptr<PangoLayout, void (*)(gpointer)> l(pango_cairo_create_layout(cr), g_object_unref);
    PangoFontDescription* police = pango_font_description_new();
    pango_font_description_set_family(police, famille.c_str());
    pango_font_description_set_weight(police, PANGO_WEIGHT_SEMIBOLD);
    pango_font_description_set_absolute_size(police, 17 * PANGO_SCALE);
    pango_layout_set_font_description(l.get(), police);
    pango_font_description_free(police);
    pango_layout_set_alignment(l.get(), PANGO_ALIGN_CENTER);
    pango_layout_set_text(l.get(), texte.c_str(), static_cast<int>(texte.size()));
    return l;
}

}  // namespace

struct VueMarqueur::Mises {
    // The label's natural size, for the box.
    std::string texte, police;
    int largeur = 0, hauteur = 0;
    // The label wrapped to the box, for drawing.
    std::string texteDessin, policeDessin;
    int largeurDessin = 0, hauteurDessin = 0;
    unsigned long rendu = 0;  // the surface's font options and scale it was laid out for
    std::unique_ptr<PangoLayout, void (*)(gpointer)> dessin{nullptr, g_object_unref};
};

VueMarqueur::Mises& VueMarqueur::mises() const {
    // The view is a value the controller edits in place; the cache only follows it.
    if (!mises_) mises_ = std::make_shared<Mises>();
    return *mises_;
}

bool VueMarqueur::boiteEtiquette(double& x, double& y, double& l, double& h) const {
    if (texte.empty()) return false;
    Mises& m = mises();
    if (m.texte != texte || m.police != police || m.largeur == 0) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
        cairo_t* cr = cairo_create(s);
        auto mise = etiquette(cr, police, texte);
        pango_layout_get_pixel_size(mise.get(), &m.largeur, &m.hauteur);
        cairo_destroy(cr);
        cairo_surface_destroy(s);
        m.texte = texte;
        m.police = police;
    }
    const int w = m.largeur, ht = m.hauteur;
    l = std::min(w + 32.0, kLargeurMax);
    h = ht + 20.0;
    y = point.y - kEcart - h;
    if (y < kMarge) y = point.y + kEcart;
    x = point.x - l / 2;
    x = std::min(x, largeur_ - l - kMarge);
    x = std::max(x, kMarge);
    return true;
}

Zone VueMarqueur::zoneAnneau() const {
    const double r = 70 + 2 + 1;  // largest radius, half the line, antialiasing
    const double yc = hauteur_ - point.y;
    return Zone{static_cast<int>(std::floor(point.x - r)), static_cast<int>(std::floor(yc - r)),
                static_cast<int>(2 * r) + 2, static_cast<int>(2 * r) + 2};
}

void VueMarqueur::dessiner(cairo_t* cr) const {
    cairo_save(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    auto bas = [&](double y) { return hauteur_ - y; };

    for (const auto& trait : traits) {
        if (trait.size() < 2) continue;
        cairo_new_path(cr);
        cairo_move_to(cr, trait[0].x, bas(trait[0].y));
        for (size_t i = 1; i < trait.size(); ++i) cairo_line_to(cr, trait[i].x, bas(trait[i].y));
        couleur(cr, kSombre, 0.85);
        cairo_set_line_width(cr, 9);
        cairo_stroke_preserve(cr);
        couleur(cr, kVert, 1);
        cairo_set_line_width(cr, 5);
        cairo_stroke(cr);
    }
    if (point.x == 0 && point.y == 0 && texte.empty()) {
        cairo_restore(cr);
        return;
    }

    const double xc = point.x, yc = bas(point.y);
    const double t = std::fmod(phase, kCycle) / kCycle;
    cercle(cr, xc, yc, 26 + 44 * t);
    couleur(cr, kVert, 1 - t);
    cairo_set_line_width(cr, 4);
    cairo_stroke(cr);

    cercle(cr, xc, yc, 24);
    couleur(cr, kSombre, 0.9);
    cairo_set_line_width(cr, 5);
    cairo_stroke_preserve(cr);
    couleur(cr, kVert, 1);
    cairo_set_line_width(cr, 3);
    cairo_stroke(cr);

    double bx, by, bl, bh;
    if (boiteEtiquette(bx, by, bl, bh)) {
        const double haut = bas(by + bh);  // top edge in surface coordinates
        cairo_new_path(cr);
        const double r = 14;
        cairo_arc(cr, bx + bl - r, haut + r, r, -M_PI / 2, 0);
        cairo_arc(cr, bx + bl - r, haut + bh - r, r, 0, M_PI / 2);
        cairo_arc(cr, bx + r, haut + bh - r, r, M_PI / 2, M_PI);
        cairo_arc(cr, bx + r, haut + r, r, M_PI, 3 * M_PI / 2);
        cairo_close_path(cr);
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_fill(cr);

        Mises& m = mises();
        const int largeurTexte = static_cast<int>((bl - 32) * PANGO_SCALE);
        const int hauteurTexte = static_cast<int>((bh - 20) * PANGO_SCALE);
        // pango_cairo_update_layout would lay it out again for every new cairo context, that
        // is every draw; what it looks at is compared here instead.
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_surface_get_font_options(cairo_get_target(cr), options);
        cairo_matrix_t echelle;
        cairo_get_matrix(cr, &echelle);
        const unsigned long rendu = cairo_font_options_hash(options) ^
                                    std::hash<double>{}(echelle.xx) * 31 ^ std::hash<double>{}(echelle.yy) * 17 ^
                                    std::hash<double>{}(echelle.xy) * 7 ^ std::hash<double>{}(echelle.yx);
        cairo_font_options_destroy(options);
        if (!m.dessin || m.texteDessin != texte || m.policeDessin != police || m.largeurDessin != largeurTexte ||
            m.hauteurDessin != hauteurTexte || m.rendu != rendu) {
            m.dessin = etiquette(cr, police, texte);
            pango_layout_set_width(m.dessin.get(), largeurTexte);
            pango_layout_set_wrap(m.dessin.get(), PANGO_WRAP_WORD_CHAR);
            pango_layout_set_height(m.dessin.get(), hauteurTexte);
            m.texteDessin = texte;
            m.policeDessin = police;
            m.largeurDessin = largeurTexte;
            m.hauteurDessin = hauteurTexte;
            m.rendu = rendu;
        }
        cairo_rectangle(cr, bx + 16, haut + 10, bl - 32, bh - 20);
        cairo_clip(cr);
        couleur(cr, kSombre, 1);
        // Only the lines that show in the box: the rest of a long label is cut anyway.
        PangoLayoutIter* ligne = pango_layout_get_iter(m.dessin.get());
        do {
            PangoRectangle logique;
            pango_layout_iter_get_line_extents(ligne, nullptr, &logique);
            if (logique.y >= hauteurTexte) break;
            cairo_move_to(cr, bx + 16 + static_cast<double>(logique.x) / PANGO_SCALE,
                          haut + 10 + static_cast<double>(pango_layout_iter_get_baseline(ligne)) / PANGO_SCALE);
            pango_cairo_show_layout_line(cr, pango_layout_iter_get_line_readonly(ligne));
        } while (pango_layout_iter_next_line(ligne));
        pango_layout_iter_free(ligne);
    }
    cairo_restore(cr);
}

}  // namespace vimba
