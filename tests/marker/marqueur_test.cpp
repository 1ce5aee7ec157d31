// The controller's states and timers against a window double and a hand-run clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "marker/marqueur.h"

namespace vimba {
namespace {

struct Journal {
    std::optional<Zone> ecran = Zone{0, 0, 1200, 900};
    int creations = 0, devant = 0, caches = 0, complets = 0, partiels = 0;
    bool visible = false;
    const VueMarqueur* vue = nullptr;
};

class FenetreDouble final : public FenetreMarqueur {
public:
    explicit FenetreDouble(Journal& j) : j_(j) {}
    std::optional<Zone> ecran() override { return j_.ecran; }
    void preparer(const Zone&, VueMarqueur& vue) override {
        if (!j_.vue) ++j_.creations;
        j_.vue = &vue;
    }
    void devant() override { ++j_.devant, j_.visible = true; }
    void cacher() override { ++j_.caches, j_.visible = false; }
    void redessiner(std::optional<Zone> z) override { z ? ++j_.partiels : ++j_.complets; }

private:
    Journal& j_;
};

// Time moves only when the test says so.
struct Horloge {
    struct Minuteur {
        double echeance, periode;
        bool repete;
        std::function<void()> action;
    };
    double maintenant = 0;
    unsigned suivant = 1;
    std::map<unsigned, Minuteur> minuteurs;

    // Fires what falls due, earliest first, the repeating ones as often as they fall due.
    void avancer(double secondes) {
        const double fin = maintenant + secondes;
        for (;;) {
            auto t = std::min_element(minuteurs.begin(), minuteurs.end(),
                                      [](auto& a, auto& b) { return a.second.echeance < b.second.echeance; });
            if (t == minuteurs.end() || t->second.echeance > fin + 1e-9) break;
            maintenant = t->second.echeance;
            auto action = t->second.action;
            if (t->second.repete)
                t->second.echeance += t->second.periode;
            else
                minuteurs.erase(t);
            action();
        }
        maintenant = fin;
    }
    int repetes() const {
        return static_cast<int>(std::count_if(minuteurs.begin(), minuteurs.end(), [](auto& m) { return m.second.repete; }));
    }
};

class MinuterieDouble final : public Minuterie {
public:
    explicit MinuterieDouble(Horloge& h) : h_(h) {}
    unsigned armer(double s, bool repete, std::function<void()> a) override {
        h_.minuteurs[h_.suivant] = {h_.maintenant + s, s, repete, std::move(a)};
        return h_.suivant++;
    }
    void annuler(unsigned id) override { h_.minuteurs.erase(id); }

private:
    Horloge& h_;
};

struct Banc {
    Journal j;
    Horloge h;
    Marqueur m{std::make_unique<FenetreDouble>(j), std::make_unique<MinuterieDouble>(h)};
    bool vide() const {
        auto* v = m.vue();
        return v->traits.empty() && v->texte.empty() && v->point.x == 0 && v->point.y == 0;
    }
};

// Without a screen, or with a stroke of one point, no window, no timer; and a lone point
// does not postpone the erase of what is shown.
TEST(Marqueur, NothingToDrawChangesNothing) {
    Banc b;
    b.j.ecran.reset();
    b.m.montrer(10, 10, "x");
    b.m.tracer({{1, 1}, {2, 2}});
    b.m.effacer();
    b.j.ecran = Zone{0, 0, 1200, 900};
    b.m.tracer({{5, 5}});
    EXPECT_EQ(b.m.vue(), nullptr);
    EXPECT_TRUE(b.h.minuteurs.empty());
    EXPECT_EQ(b.j.devant, 0);
    b.m.montrer(10, 10, "");
    b.h.avancer(10);
    b.m.tracer({{5, 5}});
    b.h.avancer(4.01);
    EXPECT_FALSE(b.j.visible);
}

// A target placed (y from the top, the view's from the bottom) and pulsing, strokes kept
// and converted; erasing clears the view, hides the window and cancels both timers,
// harmless before there is one; the marker's end cancels them too, for they call into it.
TEST(Marqueur, MontrerTracerEffacer) {
    Banc b;
    b.m.effacer();
    EXPECT_EQ(b.j.caches, 0);
    b.m.tracer({{0, 0}, {10, 20}});
    b.m.montrer(100, 100, "Ici");
    EXPECT_EQ(b.m.vue()->point.x, 100);
    EXPECT_EQ(b.m.vue()->point.y, 800);
    EXPECT_EQ(b.m.vue()->texte, "Ici");
    EXPECT_EQ(b.m.vue()->traits[0][1].y, 880);
    EXPECT_TRUE(b.j.visible);
    b.h.avancer(1.0);
    EXPECT_NEAR(b.m.vue()->phase, 1.0, 1e-9);
    EXPECT_EQ(b.j.partiels, 24);  // pulse ticks redraw only the ring
    b.m.montrer(200, 300, "");
    b.m.tracer({{1, 1}, {2, 2}, {3, 3}});
    EXPECT_EQ(b.m.vue()->phase, 0);
    EXPECT_EQ(b.m.vue()->texte, "");
    ASSERT_EQ(b.m.vue()->traits.size(), 2u);
    EXPECT_EQ(b.m.vue()->traits[1].size(), 3u);
    EXPECT_EQ(b.h.repetes(), 1);
    EXPECT_EQ(b.j.creations, 1);
    b.m.effacer();
    EXPECT_TRUE(b.h.minuteurs.empty());
    EXPECT_TRUE(b.vide());
    EXPECT_EQ(b.j.caches, 1);
    b.m.tracer({{1, 1}, {2, 2}});
    EXPECT_FALSE(b.m.pulse());
    EXPECT_TRUE(b.j.visible);
    Horloge h;
    {
        Marqueur m(std::make_unique<FenetreDouble>(b.j), std::make_unique<MinuterieDouble>(h));
        m.montrer(300, 300, "x");
        m.tracer({{1, 1}, {9, 9}});
    }
    EXPECT_TRUE(h.minuteurs.empty());
}

// Erase delays: what happens at which second, then when it is gone.
TEST(Marqueur, EraseDelays) {
    struct Etape {
        double a;
        char quoi;  // m: montrer, t: tracer
    };
    struct Cas {
        const char* nom;
        std::vector<Etape> etapes;
        double fin;  // shown until then, gone just after
    } cas[] = {
        {"montrer seul", {{0, 'm'}}, 14},
        {"tracer apres montrer", {{0, 'm'}, {10, 't'}}, 50},
        {"montrer apres tracer", {{0, 't'}, {5, 'm'}}, 19},
        {"deux montrer", {{0, 'm'}, {13, 'm'}}, 27},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        Banc b;
        for (const auto& e : c.etapes) {
            b.h.avancer(e.a - b.h.maintenant);
            e.quoi == 'm' ? b.m.montrer(300, 300, "x") : b.m.tracer({{1, 1}, {9, 9}});
        }
        b.h.avancer(c.fin - 0.01 - b.h.maintenant);
        EXPECT_TRUE(b.j.visible);
        EXPECT_FALSE(b.vide());
        b.h.avancer(0.02);
        EXPECT_FALSE(b.j.visible);
        EXPECT_TRUE(b.vide());
        EXPECT_TRUE(b.h.minuteurs.empty());
        EXPECT_EQ(b.j.creations, 1);
    }
}

}  // namespace
}  // namespace vimba
