#pragma once
// One accessibility element as the technician sees it: a plain value.
#include <cstdint>
#include <string>
#include <vector>

namespace vimba {

struct Cadre {
    double x = 0, y = 0, largeur = 0, hauteur = 0;
};

struct Element {
    std::string role;
    std::string nom;
    std::string valeur;
    Cadre cadre;
    std::int64_t profondeur = 0;

    bool agissable() const;
};

// The list as text, one line per element, no final line feed.
std::string enLignes(const std::vector<Element>& elements);

}  // namespace vimba
