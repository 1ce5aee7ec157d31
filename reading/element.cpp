#include "reading/element.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "agent/texte.h"

namespace vimba {

namespace {
constexpr std::array<std::string_view, 18> rolesAgissables = {
    "AXButton", "AXCheckBox", "AXRadioButton", "AXPopUpButton", "AXMenuItem", "AXTextField",
    "AXTextArea", "AXSlider", "AXLink", "AXDisclosureTriangle", "AXComboBox", "AXIncrementor",
    "AXTabGroup", "AXSearchField", "AXSwitch", "AXCell", "AXRow", "AXStaticText"};
constexpr std::size_t coupeValeur = 90;

long long entierTronque(double v) { return static_cast<long long>(std::trunc(v)); }
}  // namespace

bool Element::agissable() const {
    for (auto r : rolesAgissables)
        if (role == r) return true;
    return false;
}

std::string enLignes(const std::vector<Element>& elements) {
    std::string r;
    for (const auto& e : elements) {
        if (!r.empty() || &e != &elements.front()) r += '\n';
        r += e.role.starts_with("AX") ? e.role.substr(2) : e.role;
        r += " « " + e.nom + " »";
        if (!e.valeur.empty() && e.valeur != e.nom) {
            std::string v = e.valeur;
            for (char& c : v)
                if (c == '\n') c = ' ';
            bool coupe = false;
            const std::string_view garde = texte::debut(v, coupeValeur, coupe);
            r += " = ";
            r += garde;
            if (coupe) r += "…";
        }
        char pos[128];
        std::snprintf(pos, sizeof pos, " @%lld,%lld %lldx%lld", entierTronque(e.cadre.x + e.cadre.largeur / 2),
                      entierTronque(e.cadre.y + e.cadre.hauteur / 2), entierTronque(e.cadre.largeur),
                      entierTronque(e.cadre.hauteur));
        r += pos;
    }
    return r;
}

}  // namespace vimba
