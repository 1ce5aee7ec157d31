// The view drawn into an image surface at chosen states, checked by its pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "marker/vue_marqueur.h"

namespace vimba {
namespace {

constexpr int L = 900, H = 700;

struct Image {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, L, H);
    ~Image() { cairo_surface_destroy(s); }
    explicit Image(const VueMarqueur& v) {
        cairo_t* cr = cairo_create(s);
        v.dessiner(cr);
        cairo_destroy(cr);
        cairo_surface_flush(s);
    }
    // Premultiplied ARGB at (x, y) in surface coordinates (top-left origin).
    uint32_t px(int x, int y) const {
        auto* d = cairo_image_surface_get_data(s);
        return *reinterpret_cast<uint32_t*>(d + y * cairo_image_surface_get_stride(s) + x * 4);
    }
    int alpha(int x, int y) const { return px(x, y) >> 24; }
    int vert(int x, int y) const { return (px(x, y) >> 8) & 0xff; }
    int rouge(int x, int y) const { return (px(x, y) >> 16) & 0xff; }
    bool vide() const {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < L; ++x)
                if (px(x, y)) return false;
        return true;
    }
    // Bounding box of opaque white pixels: the label box.
    struct Boite {
        int x0 = L, y0 = H, x1 = -1, y1 = -1;
    };
    Boite blanc() const {
        Boite b;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < L; ++x)
                if (px(x, y) == 0xffffffffu) {
                    b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y);
                    b.x1 = std::max(b.x1, x), b.y1 = std::max(b.y1, y);
                }
        return b;
    }
};

// Lone points draw nothing; a stroke is green over a dark under-layer, and a later stroke's
// dark layer lies over an earlier one's green where they cross.
TEST(VueMarqueur, Traits) {
    VueMarqueur v(L, H);
    EXPECT_TRUE(Image(v).vide());
    v.traits = {{{100, 100}}, {}};
    EXPECT_TRUE(Image(v).vide());
    v.traits = {{{100, 100}, {300, 100}}, {{100, 300}, {300, 300}}, {{200, 200}, {200, 400}}};
    Image i(v);
    EXPECT_EQ(i.vert(200, H - 100), 255);
    EXPECT_EQ(i.alpha(200, H - 100), 255);
    EXPECT_LT(i.vert(200, H - 100 + 3), 60);
    EXPECT_GT(i.alpha(200, H - 100 + 3), 200);
    EXPECT_EQ(i.alpha(200, H - 100 + 7), 0);
    EXPECT_LT(i.vert(200 + 3, H - 300), 0.15 * 255 + 0.85 * 35 + 2);  // 0.85 dark over green
    EXPECT_EQ(i.vert(200, H - 300), 255);
    EXPECT_EQ(i.vert(150, H - 300), 255);
}

// Ring radius and alpha from the phase, around a target at (500, 400) in view coordinates.
TEST(VueMarqueur, RingFollowsPhase) {
    struct Cas {
        double phase, rayon, alpha;
    } cas[] = {{0, 26, 1}, {0.7, 48, 0.5}, {1.4, 26, 1}, {2.1, 48, 0.5}};
    for (const auto& c : cas) {
        SCOPED_TRACE(c.phase);
        VueMarqueur v(L, H);
        // Half-pixel centre: circle edges fall on pixel edges.
        v.point = {500.5, 400.5};
        v.phase = c.phase;
        Image i(v);
        const int yc = H - 401, r = static_cast<int>(c.rayon);
        // Along the horizontal through the centre: inside the ring's line, then just outside.
        EXPECT_NEAR(i.alpha(500 + r + 1, yc) / 255.0, c.alpha, 0.02);
        EXPECT_EQ(i.vert(500 + r + 1, yc), i.alpha(500 + r + 1, yc));
        EXPECT_EQ(i.alpha(500 + r + 3, yc), 0);
        if (r > 30) { EXPECT_EQ(i.alpha(500 + r - 3, yc), 0); }
        // The target circle: green at radius 24, dark at its rim.
        EXPECT_EQ(i.vert(524, yc), 255);
        EXPECT_NEAR(i.alpha(522, yc), 0.9 * 255, 1);
        EXPECT_LT(i.vert(522, yc), 60);
    }
}

// Label box placement: below, above near the bottom, clamped on either side, capped at 460
// and one line tall.
TEST(VueMarqueur, LabelBoxPlacement) {
    struct Cas {
        const char* nom;
        Point point;
        std::string texte;
        bool dessous;
        int gauche;  // -1: centred on the target
        int largeur; // -1: less than 460
    } cas[] = {
        {"dessous", {450, 400}, "Cliquez ici", true, -1, -1},
        {"dessus", {450, 60}, "Cliquez ici", false, -1, -1},
        {"bord gauche", {10, 400}, "Cliquez ici", true, 12, -1},
        {"bord droit", {895, 400}, "Cliquez ici", true, -2, -1},
        {"origine", {0, 0}, "Cliquez ici", false, 12, -1},  // the target is drawn there too
        {"long", {450, 400},
         "Ouvrez le menu Fichier puis choisissez Enregistrer sous… pour garder une copie du document", true, -1, 460},
    };
    VueMarqueur v(L, H);
    v.point = {450, 400};
    v.texte = "Ici";
    const auto court = Image(v).blanc();
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        v.point = c.point;
        v.texte = c.texte;
        Image i(v);
        auto b = i.blanc();
        ASSERT_GE(b.x1, 0);
        const int largeur = b.x1 - b.x0 + 1, yc = H - static_cast<int>(c.point.y);
        if (c.point.x == 0) { EXPECT_EQ(i.vert(24, H - 1), 255); }
        if (c.dessous)
            EXPECT_NEAR(b.y0, yc + 52, 1);
        else
            EXPECT_NEAR(b.y1 + 1, yc - 52, 1);
        if (c.gauche == -1) { EXPECT_NEAR((b.x0 + b.x1 + 1) / 2.0, c.point.x, 1); }
        if (c.gauche >= 0) { EXPECT_NEAR(b.x0, c.gauche, 1); }
        if (c.gauche == -2) { EXPECT_NEAR(b.x1 + 1, L - 12, 1); }
        if (c.largeur > 0)
            EXPECT_NEAR(largeur, c.largeur, 1);
        else
            EXPECT_LT(largeur, 460);
        // One line tall whatever the text: a long label wraps inside the box and is cut there.
        EXPECT_EQ(b.y1 - b.y0, court.y1 - court.y0);
        for (int y = b.y1 + 1; y < b.y1 + 20; ++y)
            for (int x = b.x0; x <= b.x1; ++x) ASSERT_EQ(i.alpha(x, y), 0) << x << "," << y;
        // Dark text inside the box.
        int sombre = 0;
        for (int y = b.y0; y <= b.y1; ++y)
            for (int x = b.x0; x <= b.x1; ++x)
                if (i.alpha(x, y) == 255 && i.rouge(x, y) < 80) ++sombre;
        EXPECT_GT(sombre, 30);
    }
}

TEST(VueMarqueur, ALabelLaidOutOnceStillFollowsEveryChange) {
    auto pareilles = [](const Image& a, const Image& b) {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < L; ++x)
                if (a.px(x, y) != b.px(x, y)) return false;
        return true;
    };
    // One view drawn through a series of states, each compared with a fresh view in it.
    VueMarqueur v(L, H);
    v.point = {450, 400};
    struct Etat {
        const char* texte;
        const char* police;
        double x, phase;
    };
    const Etat etats[] = {
        {"Ici", "Sans", 450, 0},
        {"Ici", "Sans", 450, 0.5},  // a pulse tick: the label kept as it was
        {"Ouvrez le menu Fichier puis choisissez Enregistrer sous…", "Sans", 450, 0.5},
        {"Ouvrez le menu Fichier puis choisissez Enregistrer sous…", "Serif", 450, 0.5},
        {"Ouvrez le menu Fichier puis choisissez Enregistrer sous…", "Serif", 880, 0.5},  // box pushed from the edge
        {"Là", "Serif", 300, 0.9},
    };
    for (const auto& e : etats) {
        v.texte = e.texte, v.police = e.police, v.point.x = e.x, v.phase = e.phase;
        const Image vue(v);
        VueMarqueur neuve(L, H);
        neuve.point = v.point, neuve.texte = e.texte, neuve.police = e.police, neuve.phase = e.phase;
        EXPECT_TRUE(pareilles(vue, Image(neuve))) << e.texte << " / " << e.police << " / " << e.x;
    }
}

TEST(VueMarqueur, RingAreaHoldsEveryRingPixel) {
    VueMarqueur v(L, H);
    v.point = {500, 400};
    Zone z = v.zoneAnneau();
    for (double phase = 0; phase < 1.4; phase += 1.0 / 24) {
        v.phase = phase;
        Image i(v);
        for (int y = 0; y < H; y += 1)
            for (int x = 0; x < L; x += 1)
                if (i.alpha(x, y)) {
                    ASSERT_TRUE(x >= z.x && x < z.x + z.largeur && y >= z.y && y < z.y + z.hauteur)
                        << x << "," << y << " phase " << phase;
                }
    }
}

}  // namespace
}  // namespace vimba
