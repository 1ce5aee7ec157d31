#include "agent/linux/cles_pretees.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <unordered_set>

#include "agent/linux/piege_x11.h"

namespace vimba::x11 {

namespace {
constexpr std::size_t clesVoulues = 64;
}  // namespace

ClesPretees::ClesPretees(Display* affichage, std::vector<KeySym> texte, Horloge::time_point* derniereCarte)
    : affichage_(affichage), texte_(std::move(texte)), derniereCarte_(derniereCarte) {
    for (std::size_t i = texte_.size(); i-- > 0;) positions_[texte_[i]].push_back(i);
    if (!affichage_) return;
    PiegeX piege(affichage_);
    int min = 0, max = 0, colonnes = 0;
    XDisplayKeycodes(affichage_, &min, &max);
    KeySym* carte = XGetKeyboardMapping(affichage_, static_cast<KeyCode>(min), max - min + 1, &colonnes);
    if (!carte) return;
    XkbStateRec etat{};
    const bool dispositionSure =
        XkbGetState(affichage_, XkbUseCoreKbd, &etat) == Success && etat.group == 0 && (etat.mods & LockMask) == 0;
    XModifierKeymap* modificateurs = XGetModifierMapping(affichage_);
    auto estModificateur = [&](int code) {
        if (!modificateurs) return true;
        const int n = 8 * modificateurs->max_keypermod;
        return std::find(modificateurs->modifiermap, modificateurs->modifiermap + n, code) != modificateurs->modifiermap + n;
    };
    for (int code = max; code >= min; --code) {
        const KeySym* ligne = carte + (code - min) * colonnes;
        if (estModificateur(code)) continue;
        if (std::all_of(ligne, ligne + colonnes, [](KeySym s) { return s == NoSymbol; })) {
            // From the top: the low keycodes are the ones real keyboards send.
            if (cles_.size() < clesVoulues) cles_.push_back(Cle{static_cast<KeyCode>(code)});
            continue;
        }
        if (!dispositionSure || colonnes < 2) continue;
        // A lone keysym in the first column stands for its lower and upper case.
        KeySym bas = ligne[0], haut = ligne[1];
        if (haut == NoSymbol) XConvertCase(ligne[0], &bas, &haut);
        if (bas != NoSymbol) disposition_[bas] = Frappe{static_cast<KeyCode>(code), false};
        if (haut != NoSymbol && haut != bas) disposition_.emplace(haut, Frappe{static_cast<KeyCode>(code), true});
    }
    if (modificateurs) XFreeModifiermap(modificateurs);
    XFree(carte);
    xkb_ = XkbGetMap(affichage_, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (!piege.sain() && xkb_) {
        XkbFreeKeyboard(xkb_, 0, True);
        xkb_ = nullptr;
    }
}

ClesPretees::~ClesPretees() {
    if (!affichage_) return;
    std::vector<std::pair<Cle*, KeySym>> vides;
    Horloge::time_point dernier{};
    for (Cle& c : cles_) {
        if (!c.changee) continue;
        dernier = std::max(dernier, c.dernierUsage);
        vides.emplace_back(&c, NoSymbol);
    }
    if (!vides.empty()) {
        std::this_thread::sleep_until(dernier + repos);
        lier(vides);
    }
    if (xkb_) XkbFreeKeyboard(xkb_, 0, True);
}

std::size_t ClesPretees::prochainUsage(KeySym s, std::size_t depuis) {
    auto it = positions_.find(s);
    if (it == positions_.end()) return SIZE_MAX;
    auto& v = it->second;
    while (!v.empty() && v.back() < depuis) v.pop_back();
    return v.empty() ? SIZE_MAX : v.back();
}

ClesPretees::Frappe ClesPretees::frappe(std::size_t i) {
    if (auto d = disposition_.find(texte_[i]); d != disposition_.end()) return d->second;
    return {preter(i), false};
}

KeyCode ClesPretees::sansMajuscule(std::size_t i) {
    const Frappe f = frappe(i);
    return f.majuscule ? preter(i) : f.code;
}

KeyCode ClesPretees::preter(std::size_t i) {
    const KeySym voulu = texte_[i];
    if (cles_.empty() || voulu == NoSymbol) return 0;
    for (Cle& c : cles_) {
        if (c.symbole == voulu) {
            c.dernierUsage = Horloge::now();
            return c.code;
        }
    }
    // The keycodes at rest, the one whose keysym is wanted last first; when none is at
    // rest, wait for the one that rests first.
    auto maintenant = Horloge::now();
    std::vector<std::pair<std::size_t, Cle*>> libres;
    for (Cle& c : cles_)
        if (!c.changee || maintenant >= c.dernierUsage + repos)
            libres.emplace_back(c.symbole == NoSymbol ? SIZE_MAX : prochainUsage(c.symbole, i), &c);
    if (libres.empty()) {
        Cle& c = *std::min_element(cles_.begin(), cles_.end(),
                                   [](const Cle& a, const Cle& b) { return a.dernierUsage < b.dernierUsage; });
        std::this_thread::sleep_until(c.dernierUsage + repos);
        libres.emplace_back(prochainUsage(c.symbole, i), &c);
    }
    std::stable_sort(libres.begin(), libres.end(), [](auto& a, auto& b) { return a.first > b.first; });
    // This keysym and those coming next that will need a keycode too, in one change.
    std::vector<std::pair<Cle*, KeySym>> liens;
    std::unordered_set<KeySym> pris;
    for (std::size_t j = i; j < texte_.size() && liens.size() < libres.size(); ++j) {
        const KeySym s = texte_[j];
        if (s == NoSymbol || pris.count(s) || disposition_.count(s)) continue;
        if (std::any_of(cles_.begin(), cles_.end(), [&](const Cle& c) { return c.symbole == s; })) continue;
        // Never give up a keycode whose keysym comes before this one.
        if (libres[liens.size()].first <= j && libres[liens.size()].first != SIZE_MAX) break;
        pris.insert(s);
        liens.emplace_back(libres[liens.size()].second, s);
    }
    lier(liens);
    for (auto& [c, s] : liens) {
        if (s == voulu) {
            c->dernierUsage = Horloge::now();
            return c->symbole == voulu ? c->code : 0;
        }
    }
    return 0;
}

void ClesPretees::lier(const std::vector<std::pair<Cle*, KeySym>>& liens) {
    if (liens.empty()) return;
    PiegeX piege(affichage_);
    bool fait = false;
    if (xkb_) {
        // One request for the whole batch; keys between them are sent back unchanged.
        XkbMapChangesRec changements{};
        bool bon = true;
        for (auto& [c, s] : liens) {
            int type = XkbTwoLevelIndex;
            const int groupes = s == NoSymbol ? 0 : 1;
            if (XkbChangeTypesOfKey(xkb_, c->code, groupes, XkbGroup1Mask, &type, &changements) != Success) {
                bon = false;
                break;
            }
            if (groupes) {
                KeySym* syms = XkbResizeKeySyms(xkb_, c->code, 2);
                if (!syms) {
                    bon = false;
                    break;
                }
                syms[0] = syms[1] = s;
            }
        }
        if (bon) {
            // XkbChangeTypesOfKey does not note the keys it touched: name the range here.
            const auto [bas, haut] = std::minmax_element(liens.begin(), liens.end(),
                                                         [](auto& a, auto& b) { return a.first->code < b.first->code; });
            changements.changed = XkbKeySymsMask;
            changements.first_key_sym = bas->first->code;
            changements.num_key_syms = static_cast<unsigned char>(haut->first->code - bas->first->code + 1);
            fait = XkbChangeMap(affichage_, xkb_, &changements) && piege.sain();
        }
    }
    if (!fait) {
        for (auto& [c, s] : liens) {
            KeySym deux[2] = {s, s};
            XChangeKeyboardMapping(affichage_, c->code, s == NoSymbol ? 1 : 2, deux, 1);
        }
        fait = piege.sain();
    }
    XFlush(affichage_);
    for (auto& [c, s] : liens) {
        c->symbole = fait ? s : NoSymbol;
        c->changee = true;
        c->dernierUsage = Horloge::now();
    }
    noterChangement();
}

void ClesPretees::noterChangement() {
    if (derniereCarte_) *derniereCarte_ = Horloge::now();
}

}  // namespace vimba::x11
