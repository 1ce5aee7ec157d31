#include "agent/wayland/clavier_xkb.h"

#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <array>

namespace vimba::wayland {

namespace {

constexpr std::uint32_t kPremierCode = 9;  // XKB keycodes below 8 do not exist; 8 is unused
constexpr std::uint32_t kDernierCode = 255;

// The keys of "touche" (Latin letters with their capital on the second level) and the
// modifiers pressed around them.
const std::vector<std::uint32_t>& fixes() {
    static const std::vector<std::uint32_t> f = [] {
        std::vector<std::uint32_t> v{XK_Return, XK_Tab, XK_space, XK_BackSpace, XK_Escape, XK_Left,
                                     XK_Right,  XK_Down, XK_Up,   XK_Shift_L,   XK_Control_L, XK_Alt_L};
        for (std::uint32_t c = XK_a; c <= XK_z; ++c) v.push_back(c);
        return v;
    }();
    return f;
}

std::string nom(std::uint32_t keysym) {
    std::array<char, 64> n{};
    if (xkb_keysym_get_name(keysym, n.data(), n.size()) <= 0) return {};
    return n.data();
}

}  // namespace

std::size_t placesLibres() { return kDernierCode - kPremierCode + 1 - fixes().size(); }

CarteClavier carteClavier(const std::vector<std::uint32_t>& extras) {
    CarteClavier c;
    std::string codes, symboles;
    std::uint32_t prochain = kPremierCode;
    auto ajouter = [&](std::uint32_t keysym) {
        const std::string n = nom(keysym);
        if (n.empty()) return;
        const std::string cle = "<I" + std::to_string(prochain) + ">";
        codes += "  " + cle + " = " + std::to_string(prochain) + ";\n";
        symboles += "  key " + cle + " { [ " + n;
        if (keysym >= XK_a && keysym <= XK_z) symboles += ", " + nom(keysym - XK_a + XK_A);
        symboles += " ] };\n";
        if (keysym == XK_Shift_L) symboles += "  modifier_map Shift { " + cle + " };\n";
        if (keysym == XK_Control_L) symboles += "  modifier_map Control { " + cle + " };\n";
        if (keysym == XK_Alt_L) symboles += "  modifier_map Mod1 { " + cle + " };\n";
        c.codes.emplace(keysym, prochain - 8);
        ++prochain;
    };
    for (std::uint32_t k : fixes()) ajouter(k);
    for (std::uint32_t k : extras) {
        if (prochain > kDernierCode) break;
        if (k != 0 && !c.codes.contains(k)) ajouter(k);
    }
    c.texte = "xkb_keymap {\n"
              "xkb_keycodes \"vimba\" {\n  minimum = 8;\n  maximum = 255;\n" + codes + "};\n"
              "xkb_types \"vimba\" { include \"complete\" };\n"
              "xkb_compatibility \"vimba\" { include \"complete\" };\n"
              "xkb_symbols \"vimba\" {\n" + symboles + "};\n"
              "};\n";
    return c;
}

}  // namespace vimba::wayland
