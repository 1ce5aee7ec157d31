#include "reading/linux/cache_atspi.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace vimba::lecture {

std::unordered_map<std::string, Connu> lireCache(GVariant* reponse) {
    std::unordered_map<std::string, Connu> connus;
    struct Place {
        std::string objet, parent;
        std::int32_t indice;
    };
    std::vector<Place> places;
    GVariant* liste = g_variant_get_child_value(reponse, 0);
    GVariantIter it;
    g_variant_iter_init(&it, liste);
    const gchar *objet = nullptr, *parent = nullptr, *nom = nullptr, *description = nullptr;
    gint32 indice = 0, compte = 0;
    guint32 role = 0;
    GVariantIter *interfaces = nullptr, *etats = nullptr;
    while (g_variant_iter_loop(&it, "((&so)(&so)(&so)iias&su&sau)", nullptr, &objet, nullptr, nullptr, nullptr, &parent,
                               &indice, &compte, &interfaces, &nom, &role, &description, &etats)) {
        Connu& c = connus[objet];
        c.role = role;
        c.nom = nom;
        c.description = description;
        c.compte = compte;
        const gchar* i = nullptr;
        while (g_variant_iter_next(interfaces, "&s", &i)) {
            c.aValeur |= !std::strcmp(i, "org.a11y.atspi.Value");
            c.aTexte |= !std::strcmp(i, "org.a11y.atspi.Text");
            c.aComposant |= !std::strcmp(i, "org.a11y.atspi.Component");
        }
        guint32 mot = 0;
        for (int k = 0; k < 2 && g_variant_iter_next(etats, "u", &mot); ++k) c.etats[k] = mot;
        places.push_back({objet, parent, indice});
    }
    g_variant_unref(liste);
    for (auto& [chemin, c] : connus) c.enfants.assign(static_cast<std::size_t>(std::max(c.compte, 0)), "");
    // A parent that would hold two objects at one index keeps none: the cache is behind.
    std::unordered_set<std::string> doubles;
    for (auto& p : places) {
        const auto parent = connus.find(p.parent);
        if (parent == connus.end() || p.indice < 0 || p.indice >= parent->second.compte) continue;
        std::string& place = parent->second.enfants[static_cast<std::size_t>(p.indice)];
        if (!place.empty()) doubles.insert(p.parent);
        place = std::move(p.objet);
    }
    for (auto& [chemin, c] : connus) {
        c.enfantsComplets = !doubles.count(chemin) &&
                            std::none_of(c.enfants.begin(), c.enfants.end(), [](const std::string& e) { return e.empty(); });
        if (!c.enfantsComplets) c.enfants.clear();
    }
    return connus;
}

}  // namespace vimba::lecture
