#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "agent/linux/touches.h"

namespace vimba::x11 {
namespace {

TEST(Touches, TrenteCinqNomsSansChiffreNiFonction) {
    EXPECT_EQ(touches().size(), 35u);
    for (const char* absent : {"f1", "1", "suppr", "debut", "fin", "cmd", ""}) EXPECT_FALSE(touches().count(absent)) << absent;
}

TEST(Combinaisons, LectureDuMot) {
    struct Cas {
        const char* mot;
        std::optional<Combinaison> attendu;
    };
    const Cas cas[] = {
        {"Cmd-Shift-Z", Combinaison{Controle | Majuscule, XK_z}},
        {"pomme-maj-z", Combinaison{Controle | Majuscule, XK_z}},
        {"shift-cmd-z", Combinaison{Controle | Majuscule, XK_z}},
        {"ctrl-a", Combinaison{Controle, XK_a}},
        {"cmd-ctrl-a", Combinaison{Controle, XK_a}},
        {"option-alt-TAB", Combinaison{Alt, XK_Tab}},
        {"cmd-c-v", Combinaison{Controle, XK_v}},  // the last key name wins
        {"-entree-", Combinaison{0, XK_Return}},
        {"cmd--a", Combinaison{Controle, XK_a}},
        {"maj-maj-a", Combinaison{Majuscule, XK_a}},
        {"SUPPRIMER", Combinaison{0, XK_BackSpace}},
        {"echap", Combinaison{0, XK_Escape}},
        {"espace", Combinaison{0, XK_space}},
        {"haut", Combinaison{0, XK_Up}},
        {"gauche", Combinaison{0, XK_Left}},
        {"cmd", std::nullopt},
        {"cmd-", std::nullopt},
        {"cmd-shift", std::nullopt},
        {"f1", std::nullopt},
        {"1", std::nullopt},
        {"", std::nullopt},
        {"---", std::nullopt},
        {"a-f1", std::nullopt},  // f1 came last, and is no key
        {"entrée", std::nullopt},
        {"super-a", Combinaison{0, XK_a}},  // not a modifier here, and "a" came last
    };
    for (const auto& c : cas) EXPECT_EQ(lireCombinaison(c.mot), c.attendu) << c.mot;
}

TEST(Keysyms, UnScalaireUneTouche) {
    struct Cas {
        char32_t c;
        KeySym attendu;
    };
    const Cas cas[] = {
        {U'a', XK_a},
        {U'E', XK_E},
        {U'é', XK_eacute},
        {U'É', XK_Eacute},
        {U'ÿ', XK_ydiaeresis},
        {U'\u00a0', XK_nobreakspace},
        {U'€', 0x010020ac},
        {U'✓', 0x01002713},
        {U'\u0301', 0x01000301},  // combining acute, typed as itself
        {U'漢', 0x01006f22},
        {U'😀', 0x0101f600},
        {U'\0', NoSymbol},
        {U'\r', NoSymbol},
        {U'\x7f', NoSymbol},
        {U'\x85', NoSymbol},
        {char32_t{0xd800}, NoSymbol},
        {char32_t{0x110000}, NoSymbol},
    };
    for (const auto& c : cas) EXPECT_EQ(keysymDe(c.c), c.attendu) << std::hex << static_cast<unsigned>(c.c);
}

}  // namespace
}  // namespace vimba::x11
