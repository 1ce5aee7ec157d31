#pragma once
// The key table and the key-combination words of "touche", and the keysym that types one
// Unicode scalar. Pure logic, no display; used by the X11 input synthesis.
#include <X11/X.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vimba::x11 {

// Modifiers as pressed on X, in pressing order. "cmd"/"pomme" are Control: Linux
// applications use Control for the shortcuts the technician means (select all, copy,
// paste), and Super is taken by the desktop itself.
enum Modificateur : unsigned { Controle = 1u << 0, Alt = 1u << 1, Majuscule = 1u << 2 };

struct Combinaison {
    unsigned modificateurs = 0;
    KeySym touche = NoSymbol;

    bool operator==(const Combinaison&) const = default;
};

// The 35 key names and the keysym of the same key.
const std::unordered_map<std::string, KeySym>& touches();

// The word lower-cased and cut at dashes; modifier words add, the last other piece names
// the key. None when that name is not in the table (modifiers alone included).
std::optional<Combinaison> lireCombinaison(std::string_view mot);

// The keysym a spare key must carry to type the scalar: Latin-1 as itself, anything else
// as a Unicode keysym. NoSymbol for what no key can produce (controls, surrogates).
KeySym keysymDe(char32_t scalaire);

}  // namespace vimba::x11
