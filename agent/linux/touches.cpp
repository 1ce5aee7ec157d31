#include "agent/linux/touches.h"

#include <X11/keysym.h>

namespace vimba::x11 {

const std::unordered_map<std::string, KeySym>& touches() {
    static const std::unordered_map<std::string, KeySym> table = [] {
        std::unordered_map<std::string, KeySym> t{
            {"entree", XK_Return}, {"tab", XK_Tab},     {"espace", XK_space}, {"supprimer", XK_BackSpace},
            {"echap", XK_Escape},  {"gauche", XK_Left}, {"droite", XK_Right}, {"bas", XK_Down},
            {"haut", XK_Up},
        };
        for (char c = 'a'; c <= 'z'; ++c) t.emplace(std::string(1, c), XK_a + (c - 'a'));
        return t;
    }();
    return table;
}

std::optional<Combinaison> lireCombinaison(std::string_view mot) {
    static const std::unordered_map<std::string_view, Modificateur> modificateurs{
        {"cmd", Controle}, {"pomme", Controle}, {"ctrl", Controle}, {"alt", Alt},
        {"option", Alt},   {"maj", Majuscule},  {"shift", Majuscule},
    };
    // Key names are ASCII, so ASCII lower-casing finds the same entries.
    std::string bas(mot);
    for (char& c : bas)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    Combinaison r;
    std::string nom;
    std::size_t debut = 0;
    while (debut <= bas.size()) {
        std::size_t fin = bas.find('-', debut);
        if (fin == std::string::npos) fin = bas.size();
        const std::string_view piece(bas.data() + debut, fin - debut);
        if (!piece.empty()) {
            if (auto m = modificateurs.find(piece); m != modificateurs.end())
                r.modificateurs |= m->second;
            else
                nom = piece;
        }
        debut = fin + 1;
    }
    auto t = touches().find(nom);
    if (t == touches().end()) return std::nullopt;
    r.touche = t->second;
    return r;
}

KeySym keysymDe(char32_t c) {
    if (c < 0x20 || (c >= 0x7f && c < 0xa0)) return NoSymbol;
    if (c >= 0xd800 && c <= 0xdfff) return NoSymbol;
    if (c > 0x10ffff) return NoSymbol;
    if (c <= 0xff) return c;
    return 0x01000000 | c;
}

}  // namespace vimba::x11
