#pragma once
// The walk over an accessibility tree, written against a narrow view of the tree so the
// same rules run on AT-SPI and on the small trees of the tests. Main thread.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "reading/element.h"

namespace vimba::lecture {

inline constexpr int limiteVisites = 4000;
inline constexpr std::int64_t limiteProfondeur = 24;
inline constexpr int maximumViser = 400;

// What one node says about itself; an absent attribute is nullopt.
struct Infos {
    std::string role;  // in the AX vocabulary, empty when absent
    std::optional<std::string> titre, description, descriptionValeur, valeur;
};

// One accessibility tree. Nodes are handles the tree hands out and keeps alive until it
// is destroyed. Once a query times out the tree is "en panne" and the walk stops.
class Arbre {
public:
    using Noeud = std::uintptr_t;
    virtual ~Arbre() = default;
    virtual Noeud racine() = 0;
    virtual Infos infos(Noeud n) = 0;
    // Frame relative to the main display; zeros where position or size are absent.
    virtual Cadre cadre(Noeud n) = 0;
    virtual std::vector<Noeud> enfants(Noeud n) = 0;
    virtual bool enPanne() const = 0;
};

// The listed elements, depth first, within the visit, depth and `maximum` bounds,
// filtered by `motif` (case and diacritics ignored) when it is present and not empty.
std::vector<Element> elements(Arbre& arbre, const std::optional<std::string>& motif, int maximum);
// The element `viser` clicks among the matches: a control with a usable frame, else
// anything with a usable frame.
std::optional<Element> choisir(const std::vector<Element>& candidats);

}  // namespace vimba::lecture
