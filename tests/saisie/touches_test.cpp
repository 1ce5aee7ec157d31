#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "agent/linux/touches.h"

namespace vimba::x11 {
namespace {

TEST(Combinaisons, LectureDuMot) {
    struct Cas {
        const char* mot;
        std::optional<Combinaison> attendu;
    };
    const Cas cas[] = {
        {"Cmd-Shift-Z", Combinaison{Controle | Majuscule, XK_z}}, {"shift-pomme-z", Combinaison{Controle | Majuscule, XK_z}},
        {"cmd-ctrl-a", Combinaison{Controle, XK_a}}, {"option-alt-TAB", Combinaison{Alt, XK_Tab}},
        {"cmd-c-v", Combinaison{Controle, XK_v}},  // the last key name wins
        {"-entree-", Combinaison{0, XK_Return}}, {"cmd--a", Combinaison{Controle, XK_a}}, {"maj-maj-a", Combinaison{Majuscule, XK_a}},
        {"SUPPRIMER", Combinaison{0, XK_BackSpace}}, {"echap", Combinaison{0, XK_Escape}}, {"espace", Combinaison{0, XK_space}},
        {"haut", Combinaison{0, XK_Up}}, {"gauche", Combinaison{0, XK_Left}},
        {"super-a", Combinaison{0, XK_a}},  // not a modifier here, and "a" came last
        {"cmd", std::nullopt}, {"cmd-", std::nullopt}, {"cmd-shift", std::nullopt}, {"f1", std::nullopt}, {"1", std::nullopt},
        {"", std::nullopt}, {"---", std::nullopt}, {"a-f1", std::nullopt}, {"entrée", std::nullopt}, {"suppr", std::nullopt},
    };
    for (const auto& c : cas) EXPECT_EQ(lireCombinaison(c.mot), c.attendu) << c.mot;
}

}  // namespace
}  // namespace vimba::x11
