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
    bool actif = false;  // the window that has the focus
    bool modal = false;  // a dialog that holds its parent window
};

// One accessibility tree. Nodes are handles the tree hands out and keeps alive until it
// is destroyed. Once a query times out the tree is "en panne" and the walk stops.
class Arbre {
public:
    using Noeud = std::uintptr_t;
    virtual ~Arbre() = default;
    virtual Noeud racine() = 0;
    // Not hidden (hidden: visible yet not showing), asked alone so that hidden nodes cost
    // little; true when the toolkit says nothing of it.
    virtual bool montre(Noeud n) = 0;
    virtual Infos infos(Noeud n) = 0;
    // Frame relative to the main display; zeros where position or size are absent. Once the
    // tree is "en panne" it asks nothing more and gives only frames already answered.
    virtual Cadre cadre(Noeud n) = 0;
    // The walk will want this node's frame: a tree that answers slowly may ask for it now.
    virtual void prevoirCadre(Noeud) {}
    // The walk is about to enter the hidden parts too: a tree that can have the whole of it
    // in one answer may ask for it now.
    virtual void prevoirTout() {}
    virtual std::vector<Noeud> enfants(Noeud n) = 0;
    // The name of the node that labels this one (a field and the text beside it).
    virtual std::optional<std::string> etiquette(Noeud n) = 0;
    virtual bool enPanne() const = 0;
};

// The listed elements, depth first, within the visit, depth and `maximum` bounds,
// filtered by `motif` (case and diacritics ignored) when it is present and not empty.
// The window in front comes first, and only what is on screen is walked; with a `motif`
// that nothing on screen matches, the hidden parts (closed menus, other pages) are too.
std::vector<Element> elements(Arbre& arbre, const std::optional<std::string>& motif, int maximum);
// The element `viser` clicks for `motif`: the best of what is on screen, else of the
// hidden parts.
std::optional<Element> viser(Arbre& arbre, const std::string& motif);
// The best candidate: by rank (the exact name, a name that starts with the motif, one
// that contains it, a value that contains it), then within a rank a control with a
// usable frame, else anything with a usable frame.
std::optional<Element> choisir(const std::vector<Element>& candidats, const std::string& motif);

}  // namespace vimba::lecture
