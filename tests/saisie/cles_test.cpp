// The lent keycodes on a real X server: what a key carries while a text is typed, and the
// keyboard as it was afterwards. Needs a display (run under scripts/avec-bureau.sh).
// gtest first: Xlib's macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include "agent/linux/cles_pretees.h"
#include "agent/linux/touches.h"

namespace vimba::x11 {
namespace {

std::vector<KeySym> carte(Display* d) {
    int min = 0, max = 0, colonnes = 0;
    XDisplayKeycodes(d, &min, &max);
    KeySym* k = XGetKeyboardMapping(d, static_cast<KeyCode>(min), max - min + 1, &colonnes);
    std::vector<KeySym> v(k, k + (max - min + 1) * colonnes);
    XFree(k);
    return v;
}

KeySym porte(Display* d, KeyCode code, int colonne) {
    int n = 0;
    KeySym* k = XGetKeyboardMapping(d, code, 1, &n);
    const KeySym s = colonne < n ? k[colonne] : NoSymbol;
    XFree(k);
    return s;
}

class Cles : public ::testing::Test {
protected:
    void SetUp() override {
        d = XOpenDisplay(nullptr);
        if (!d) GTEST_SKIP() << "no X display";
    }
    void TearDown() override {
        if (d) XCloseDisplay(d);
    }
    Display* d = nullptr;
};

// A text of layout and lent keys, and one with more symbols than there are spare keys.
TEST_F(Cles, ChaqueSymboleSurSaToucheEtLeClavierRenduTelQuel) {
    const auto avant = carte(d);
    std::u32string beaucoup;
    for (char32_t c = 0x4e00; c < 0x4e00 + 150; ++c) beaucoup += c;
    for (const std::u32string& t : {std::u32string(U"aÉé✓😀漢Ω€É a"), beaucoup}) {
        std::vector<KeySym> texte;
        for (char32_t c : t) texte.push_back(keysymDe(c));
        ClesPretees cles(d, texte);
        for (std::size_t i = 0; i < texte.size(); ++i) {
            const auto f = cles.frappe(i);
            ASSERT_NE(f.code, 0) << i;
            // A layout key carries it on the level asked; a lent one on both levels.
            EXPECT_EQ(porte(d, f.code, f.majuscule ? 1 : 0), texte[i]) << i;
            if (f.code != XKeysymToKeycode(d, texte[i])) EXPECT_EQ(porte(d, f.code, 1), texte[i]) << i;
        }
    }
    EXPECT_EQ(carte(d), avant);
}

}  // namespace
}  // namespace vimba::x11
