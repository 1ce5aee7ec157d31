// The walk: bounded three ways, labels chosen title first, frames read only for nodes
// that can be listed.
#include <memory>

#include "reading/arbre.h"
#include "reading/filtre.h"

namespace vimba::lecture {

namespace {

struct Marche {
    Arbre& arbre;
    std::size_t maximum;
    const Filtre* filtre;
    int vus = 0;
    std::vector<Element> dans;

    void parcourir(Arbre::Noeud noeud, std::int64_t profondeur) {
        if (vus >= limiteVisites || arbre.enPanne()) return;
        if (dans.size() >= maximum || profondeur >= limiteProfondeur) return;
        ++vus;
        Infos i = arbre.infos(noeud);
        if (arbre.enPanne()) return;
        std::string nom;
        for (const auto* t : {&i.titre, &i.description, &i.descriptionValeur})
            if (*t && !(*t)->empty()) {
                nom = **t;
                break;
            }
        std::string valeur = i.valeur.value_or("");
        if (!i.role.empty() && (!nom.empty() || !valeur.empty())) {
            const Cadre c = arbre.cadre(noeud);
            if (arbre.enPanne()) return;
            if (!filtre || filtre->trouveDans(nom) || filtre->trouveDans(valeur))
                dans.push_back(Element{std::move(i.role), std::move(nom), std::move(valeur), c, profondeur});
        }
        for (Arbre::Noeud enfant : arbre.enfants(noeud)) parcourir(enfant, profondeur + 1);
    }
};

}  // namespace

std::vector<Element> elements(Arbre& arbre, const std::optional<std::string>& motif, int maximum) {
    if (maximum <= 0) return {};
    std::unique_ptr<Filtre> filtre;
    if (motif && !motif->empty()) filtre = std::make_unique<Filtre>(*motif);
    Marche m{arbre, static_cast<std::size_t>(maximum), filtre.get(), 0, {}};
    m.parcourir(arbre.racine(), 0);
    return std::move(m.dans);
}

std::optional<Element> choisir(const std::vector<Element>& candidats) {
    const auto utilisable = [](const Element& e) { return e.cadre.largeur > 1.0 && e.cadre.hauteur > 1.0; };
    for (const auto& e : candidats)
        if (e.agissable() && e.role != "AXStaticText" && utilisable(e)) return e;
    for (const auto& e : candidats)
        if (utilisable(e)) return e;
    return std::nullopt;
}

}  // namespace vimba::lecture
