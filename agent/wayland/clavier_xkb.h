#pragma once
// A keymap of our own for the virtual keyboard: the keys "touche" names and the modifiers
// at fixed keycodes, and one key per character to type, so that any Unicode character is
// typed with a single press and no modifier. Pure logic; the agent uploads the text.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vimba::wayland {

// The real modifiers' bits in every XKB keymap: Shift, Lock, Control, Mod1 (Alt).
inline constexpr std::uint32_t kMasqueMajuscule = 1u << 0, kMasqueControle = 1u << 2, kMasqueAlt = 1u << 3;

struct CarteClavier {
    std::string texte;  // XKB v1 text, as the compositor compiles it
    // keysym → evdev code (the XKB keycode less 8), what wl keyboard requests carry.
    std::unordered_map<std::uint32_t, std::uint32_t> codes;

    // 0 when the keysym has no key in this keymap.
    std::uint32_t code(std::uint32_t keysym) const {
        auto c = codes.find(keysym);
        return c == codes.end() ? 0 : c->second;
    }
};

// Keys for typed characters in one keymap, after the fixed ones (keycodes stay ≤ 255, which
// X clients through Xwayland require).
std::size_t placesLibres();

// The fixed keys plus `extras` (keysyms; those already fixed, 0 and repeats are skipped,
// and those beyond placesLibres() are left out).
CarteClavier carteClavier(const std::vector<std::uint32_t>& extras);

}  // namespace vimba::wayland
