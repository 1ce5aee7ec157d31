#include "agent/linux/cles_pretees.h"

#include <algorithm>
#include <thread>

#include "agent/linux/piege_x11.h"

namespace vimba::x11 {

namespace {
// Enough keycodes that typing at 12 ms a character never waits on `repos`.
constexpr std::size_t clesVoulues = 32;
}  // namespace

ClesPretees::ClesPretees(Display* affichage, Horloge::time_point* derniereCarte)
    : affichage_(affichage), derniereCarte_(derniereCarte) {
    if (!affichage_) return;
    PiegeX piege(affichage_);
    int min = 0, max = 0;
    XDisplayKeycodes(affichage_, &min, &max);
    KeySym* carte = XGetKeyboardMapping(affichage_, static_cast<KeyCode>(min), max - min + 1, &colonnes_);
    if (!carte) return;
    // From the top: the low keycodes are the ones real keyboards send.
    for (int code = max; code >= min && cles_.size() < clesVoulues; --code) {
        const KeySym* ligne = carte + (code - min) * colonnes_;
        if (std::all_of(ligne, ligne + colonnes_, [](KeySym s) { return s == NoSymbol; }))
            cles_.push_back({static_cast<KeyCode>(code)});
    }
    XFree(carte);
}

ClesPretees::~ClesPretees() {
    if (!affichage_) return;
    Horloge::time_point dernier{};
    for (const Cle& c : cles_)
        if (c.changee) dernier = std::max(dernier, c.dernierUsage);
    if (dernier == Horloge::time_point{}) return;
    std::this_thread::sleep_until(dernier + repos);
    PiegeX piege(affichage_);
    KeySym vide = NoSymbol;
    for (const Cle& c : cles_)
        if (c.changee) XChangeKeyboardMapping(affichage_, c.code, 1, &vide, 1);
    XFlush(affichage_);
    if (derniereCarte_) *derniereCarte_ = Horloge::now();
}

KeyCode ClesPretees::preter(KeySym symbole) {
    if (cles_.empty() || symbole == NoSymbol) return 0;
    const auto maintenant = Horloge::now();
    for (Cle& c : cles_) {
        if (c.symbole == symbole) {
            c.dernierUsage = maintenant;
            return c.code;
        }
    }
    Cle& c = *std::min_element(cles_.begin(), cles_.end(),
                               [](const Cle& a, const Cle& b) { return a.dernierUsage < b.dernierUsage; });
    if (c.changee) std::this_thread::sleep_until(c.dernierUsage + repos);
    KeySym deux[2] = {symbole, symbole};
    {
        PiegeX piege(affichage_);
        XChangeKeyboardMapping(affichage_, c.code, 2, deux, 1);
        if (!piege.sain()) return 0;
    }
    c.symbole = symbole;
    c.changee = true;
    c.dernierUsage = Horloge::now();
    if (derniereCarte_) *derniereCarte_ = c.dernierUsage;
    return c.code;
}

}  // namespace vimba::x11
