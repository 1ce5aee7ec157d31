#pragma once
// What an application's own cache of its accessibility tree says (AT-SPI's
// org.a11y.atspi.Cache.GetItems): every object it holds, in one answer.
#include <glib.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace vimba::lecture {

struct Connu {
    unsigned role = 0;
    std::string nom, description;
    std::uint32_t etats[2] = {0, 0};
    std::int32_t compte = 0;  // its children, as it counts them
    bool aValeur = false, aTexte = false, aComposant = false;
    // Its children's paths in order, when the cache holds each index once; else empty and
    // the children are asked for.
    std::vector<std::string> enfants;
    bool enfantsComplets = false;
};

// The objects by path, from a GetItems answer of type (a((so)(so)(so)iiassusau)).
std::unordered_map<std::string, Connu> lireCache(GVariant* reponse);

}  // namespace vimba::lecture
