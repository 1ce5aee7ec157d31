// The Wayland input logic without a compositor: the keymap we upload compiles and gives each
// character its key; the portal back end sends what the portal expects, in order.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/wayland/clavier_xkb.h"
#include "agent/wayland/saisie_portail.h"

namespace vimba::wayland {
namespace {

TEST(CarteClavier, ChaqueSymboleTapeParSaTouche) {
    std::vector<std::uint32_t> beaucoup;
    for (std::uint32_t c = 0x4e00; c < 0x4e00 + 400; ++c) beaucoup.push_back(0x01000000 | c);
    const struct {
        const char* cas;
        std::vector<std::uint32_t> extras;
        std::size_t places;  // keys given to the extras
    } cas[] = {
        {"rien", {}, 0},
        {"capitale, accents, guillemet, emoji, CJK, doublon", {XK_A, XK_eacute, XK_guillemotleft, 0x0101f600, 0x010065e5, XK_A}, 5},
        {"lettre et espace déjà là, 0 sauté", {XK_a, XK_space, 0}, 0},
        {"au-delà des places", beaucoup, placesLibres()},
    };
    xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    for (const auto& c : cas) {
        SCOPED_TRACE(c.cas);
        const CarteClavier carte = carteClavier(c.extras);
        xkb_keymap* km = xkb_keymap_new_from_string(ctx, carte.texte.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        ASSERT_NE(km, nullptr) << carte.texte;
        xkb_state* etat = xkb_state_new(km);
        for (std::uint32_t k : c.extras) {
            const std::uint32_t code = carte.code(k);
            if (code == 0) continue;
            EXPECT_EQ(xkb_state_key_get_one_sym(etat, code + 8), k) << std::hex << k;
        }
        for (std::uint32_t k : {XK_Return, XK_Tab, XK_BackSpace, XK_Escape, XK_Left, XK_z}) EXPECT_EQ(xkb_state_key_get_one_sym(etat, carte.code(k) + 8), k);
        // Shift gives the capital on a letter key; the modifier bits are the ones we send.
        xkb_state_update_key(etat, carte.code(XK_Shift_L) + 8, XKB_KEY_DOWN);
        EXPECT_EQ(xkb_state_key_get_one_sym(etat, carte.code(XK_q) + 8), static_cast<xkb_keysym_t>(XK_Q));
        EXPECT_EQ(xkb_state_serialize_mods(etat, XKB_STATE_MODS_DEPRESSED), kMasqueMajuscule);
        xkb_state_update_key(etat, carte.code(XK_Control_L) + 8, XKB_KEY_DOWN);
        xkb_state_update_key(etat, carte.code(XK_Alt_L) + 8, XKB_KEY_DOWN);
        EXPECT_EQ(xkb_state_serialize_mods(etat, XKB_STATE_MODS_DEPRESSED), kMasqueMajuscule | kMasqueControle | kMasqueAlt);
        EXPECT_LE(xkb_keymap_max_keycode(km), 255u);
        EXPECT_EQ(carte.codes.size(), carteClavier({}).codes.size() + c.places);
        xkb_state_unref(etat);
        xkb_keymap_unref(km);
    }
    xkb_context_unref(ctx);
}

// Records the portal calls as short texts: "p X Y", "b CODE 1|0", "d CRANS", "k KEYSYM 1|0", "v".
struct Journal {
    std::vector<std::string> evenements;
    std::optional<CanalPortail::Cadre> flux = CanalPortail::Cadre{0, 0, 1920, 1080};
    std::optional<CanalPortail::Cadre> principale = CanalPortail::Cadre{0, 0, 1920, 1080};
};
class CanalEnregistre final : public CanalPortail {
public:
    explicit CanalEnregistre(Journal& j) : j_(j) {}
    std::optional<Cadre> flux() override { return j_.flux; }
    std::optional<Cadre> principale() override { return j_.principale; }
    void pointeurAbsolu(double x, double y) override { ajouter("p " + entier(x) + " " + entier(y)); }
    void bouton(int code, bool presse) override { ajouter("b " + std::to_string(code) + (presse ? " 1" : " 0")); }
    void defilerDiscret(int crans) override { ajouter("d " + std::to_string(crans)); }
    void toucheSymbole(std::uint32_t s, bool presse) override {
        char t[32];
        std::snprintf(t, sizeof t, "k %x %d", s, presse ? 1 : 0);
        ajouter(t);
    }
    void vider() override { ajouter("v"); }

private:
    static std::string entier(double v) { return v == static_cast<long>(v) ? std::to_string(static_cast<long>(v)) : std::to_string(v); }
    void ajouter(std::string e) { j_.evenements.push_back(std::move(e)); }
    Journal& j_;
};

using Evenements = std::vector<std::string>;

TEST(SaisiePortail, PointeurDansLeCadreDuFlux) {
    const struct {
        const char* cas;
        CanalPortail::Cadre flux, principale;
        std::function<void(Saisie&)> faire;
        Evenements attendus;
    } cas[] = {
        {"clic", {0, 0, 1920, 1080}, {0, 0, 1920, 1080}, [](Saisie& s) { s.cliquer(10.7, 20.2, false, false); },
         {"p 10 20", "v", "b 272 1", "b 272 0", "v"}},
        {"double droit, flux d'un autre écran", {100, 50, 800, 600}, {0, 0, 1920, 1080},
         [](Saisie& s) { s.cliquer(150.5, 60, true, true); }, {"p 50 10", "v", "b 273 1", "b 273 0", "b 273 1", "b 273 0", "v"}},
        {"au bord du flux", {0, 0, 800, 600}, {0, 0, 800, 600}, [](Saisie& s) { s.bouger(5000, -3); }, {"p 799 0", "v"}},
        {"défiler vers le haut", {0, 0, 800, 600}, {0, 0, 800, 600}, [](Saisie& s) { s.defiler(1, 2, 2); },
         {"p 1 2", "d -1", "d -1", "v"}},
        {"défiler vers le bas", {0, 0, 800, 600}, {0, 0, 800, 600}, [](Saisie& s) { s.defiler(1, 2, -1); }, {"p 1 2", "d 1", "v"}},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.cas);
        Journal j;
        j.flux = c.flux;
        j.principale = c.principale;
        SaisiePortail s(std::make_unique<CanalEnregistre>(j));
        c.faire(s);
        EXPECT_EQ(j.evenements, c.attendus);
    }
    Journal j;
    SaisiePortail s(std::make_unique<CanalEnregistre>(j));
    s.defiler(0, 0, INT32_MIN);
    EXPECT_EQ(j.evenements.size(), 1002u) << "au plus mille crans";
}

TEST(SaisiePortail, ClavierParKeysyms) {
    const struct {
        const char* cas;
        std::string texte;
        std::vector<bool> reponses;  // what `avant` answers in turn (true afterwards)
        Evenements touches;          // keys pressed, one keysym each
        int avis;
    } cas[] = {
        {"mélange", "é\n😀\tA", {}, {"e9", "ff0d", "101f600", "ff09", "41"}, 4},
        {"arrêt au saut de ligne", "a\nb", {false}, {"61"}, 1},
        {"arrêt après le saut", "a\nb", {true, false}, {"61", "ff0d"}, 2},
        {"octet invalide sauté", "a\xff" "b", {}, {"61", "62"}, 0},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.cas);
        Journal j;
        SaisiePortail s(std::make_unique<CanalEnregistre>(j));
        int avis = 0;
        s.ecrire(c.texte, [&] { return avis < static_cast<int>(c.reponses.size()) ? c.reponses[avis++] : (++avis, true); });
        Evenements touches;
        for (std::size_t i = 0; i < j.evenements.size(); ++i) {
            const auto& e = j.evenements[i];
            if (e.back() != '1' || e[0] != 'k') continue;
            touches.push_back(e.substr(2, e.size() - 4));
            EXPECT_EQ(j.evenements.at(i + 1), "k " + touches.back() + " 0");
        }
        EXPECT_EQ(touches, c.touches);
        EXPECT_EQ(avis, c.avis);
        EXPECT_EQ(j.evenements.back(), "v");
    }

    // Another window in front from the second key on: asked about once, before that key.
    Journal j;
    int appels = 0, avis = 0;
    SaisiePortail s(std::make_unique<CanalEnregistre>(j), [&] { return std::uint64_t(++appels >= 3 ? 2 : 1); });
    s.ecrire("abc", [&] { return ++avis > 0; });
    EXPECT_EQ(avis, 1);
}

TEST(SaisiePortail, Combinaisons) {
    Journal j;
    SaisiePortail s(std::make_unique<CanalEnregistre>(j));
    EXPECT_FALSE(s.frapper("pomme-maj"));
    EXPECT_TRUE(j.evenements.empty());
    EXPECT_TRUE(s.frapper("Ctrl-Maj-A"));
    EXPECT_EQ(j.evenements, (Evenements{"k ffe3 1", "k ffe1 1", "k 61 1", "v", "k 61 0", "k ffe1 0", "k ffe3 0", "v"}));
}

}  // namespace
}  // namespace vimba::wayland
