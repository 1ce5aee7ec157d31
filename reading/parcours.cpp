// The walk: bounded three ways, labels chosen title first, frames read only for the nodes
// listed. What is on screen comes first: the window in front before the
// others, and hidden subtrees (closed menus, pages behind a tab) only when asked for.
#include <algorithm>
#include <memory>

#include "reading/arbre.h"
#include "reading/filtre.h"

namespace vimba::lecture {

namespace {

// A scrolled list or grid shows one run of its children and hides the rest, often
// thousands. Past this many children, a run of hidden ones is stepped over.
constexpr std::size_t familleNombreuse = 64;
constexpr std::size_t suiteCachee = 16;  // hidden siblings in a row before stepping
constexpr std::size_t pas = 16;          // shorter shown runs may be stepped over

// Controls that a separate label may name. Cells and rows are left out: tables have many,
// and their text is their name.
bool nommeParEtiquette(const std::string& role) {
    return Element{role, "", "", {}, 0}.agissable() && role != "AXStaticText" && role != "AXCell" && role != "AXRow";
}

struct Marche {
    Arbre& arbre;
    std::size_t maximum;
    const Filtre* filtre;
    bool cachesAussi;  // enter subtrees that are not on screen
    int vus = 0;
    std::vector<Element> dans;
    std::vector<Arbre::Noeud> listes;  // the node of each element, whose frame comes last
    bool cachesLaisses = false;  // a hidden subtree was passed by

    bool plein(std::int64_t profondeur) const { return dans.size() >= maximum || profondeur >= limiteProfondeur; }

    // One visit: whether the node is to be walked (always in the walk that enters hidden
    // parts, and the application itself, which never shows); none past a bound.
    std::optional<bool> visiter(Arbre::Noeud noeud, std::int64_t profondeur) {
        if (vus >= limiteVisites || arbre.enPanne()) return std::nullopt;
        ++vus;
        if (cachesAussi || profondeur == 0) return true;
        const bool montre = arbre.montre(noeud);
        if (arbre.enPanne()) return std::nullopt;
        if (!montre) cachesLaisses = true;
        return montre;
    }

    // `visite` when the node's visit has already said to walk it.
    void parcourir(Arbre::Noeud noeud, std::int64_t profondeur, bool visite = false,
                   std::optional<Infos> lu = std::nullopt) {
        if (plein(profondeur) || arbre.enPanne()) return;
        if (!visite) {
            const auto v = visiter(noeud, profondeur);
            if (!v || !*v) return;
        }
        if (!lu) {
            lu = arbre.infos(noeud);
            if (arbre.enPanne()) return;
        }
        Infos& i = *lu;
        std::string nom;
        for (const auto* t : {&i.titre, &i.description, &i.descriptionValeur})
            if (*t && !(*t)->empty()) {
                nom = **t;
                break;
            }
        if (nom.empty() && nommeParEtiquette(i.role)) {
            nom = arbre.etiquette(noeud).value_or("");
            if (arbre.enPanne()) return;
        }
        std::string valeur = i.valeur.value_or("");
        if (!i.role.empty() && (!nom.empty() || !valeur.empty()) &&
            (!filtre || filtre->trouveDans(nom) || filtre->trouveDans(valeur))) {
            arbre.prevoirCadre(noeud);
            listes.push_back(noeud);
            dans.push_back(Element{std::move(i.role), std::move(nom), std::move(valeur), {}, profondeur});
        }
        const auto enfants = arbre.enfants(noeud);
        if (profondeur == 0)
            parcourirFenetres(enfants);
        else if (cachesAussi || enfants.size() <= familleNombreuse)
            for (Arbre::Noeud enfant : enfants) parcourir(enfant, profondeur + 1);
        else
            parcourirFamille(enfants, profondeur + 1);
    }

    // Children one by one until a long run is hidden, then every `pas`-th one until one
    // shows; from there, back to the first shown one of its run, and one by one again.
    void parcourirFamille(const std::vector<Arbre::Noeud>& enfants, std::int64_t profondeur) {
        std::size_t i = 0, cachesDeSuite = 0;
        while (i < enfants.size()) {
            if (plein(profondeur)) return;
            if (cachesDeSuite < suiteCachee) {
                const auto v = visiter(enfants[i], profondeur);
                if (!v) return;
                cachesDeSuite = *v ? 0 : cachesDeSuite + 1;
                if (*v) parcourir(enfants[i], profondeur, true);
                ++i;
                continue;
            }
            const std::size_t j = std::min(i + pas - 1, enfants.size() - 1);
            const auto v = visiter(enfants[j], profondeur);
            if (!v) return;
            cachesLaisses = true;
            if (!*v) {
                i = j + 1;
                continue;
            }
            std::size_t debut = j;
            while (debut > i) {
                const auto avant = visiter(enfants[debut - 1], profondeur);
                if (!avant) return;
                if (!*avant) break;
                --debut;
            }
            for (std::size_t k = debut; k <= j; ++k) parcourir(enfants[k], profondeur, true);
            i = j + 1;
            cachesDeSuite = 0;
        }
    }

    // The application's windows: a modal dialog first, then the active window, then the
    // rest in the toolkit's order.
    void parcourirFenetres(const std::vector<Arbre::Noeud>& fenetres) {
        struct Lue {
            Arbre::Noeud noeud;
            Infos infos;
            int rang;
        };
        std::vector<Lue> lues;
        for (Arbre::Noeud f : fenetres) {
            if (plein(1)) return;
            const auto v = visiter(f, 1);
            if (!v) break;
            if (!*v) continue;
            Infos i = arbre.infos(f);
            if (arbre.enPanne()) return;
            const int rang = i.modal ? 0 : i.actif ? 1 : 2;
            lues.push_back({f, std::move(i), rang});
        }
        std::stable_sort(lues.begin(), lues.end(), [](const Lue& a, const Lue& b) { return a.rang < b.rang; });
        for (auto& l : lues) parcourir(l.noeud, 1, true, std::move(l.infos));
    }
};

// The elements, and whether hidden subtrees were left out.
std::pair<std::vector<Element>, bool> marcher(Arbre& arbre, const Filtre* filtre, int maximum, bool cachesAussi) {
    Marche m{arbre, static_cast<std::size_t>(maximum), filtre, cachesAussi, 0, {}, {}, false};
    if (cachesAussi) arbre.prevoirTout();
    m.parcourir(arbre.racine(), 0);
    // Frames all together at the end, so that a slow tree answers them in one stretch. Once
    // the tree stops answering, the list ends at the first element left without one.
    for (std::size_t i = 0; i < m.dans.size(); ++i) {
        const Cadre c = arbre.cadre(m.listes[i]);
        if (arbre.enPanne() && c.largeur <= 0 && c.hauteur <= 0) {
            m.dans.resize(i);
            break;
        }
        m.dans[i].cadre = c;
    }
    return {std::move(m.dans), m.cachesLaisses};
}

int rang(const Element& e, const Filtre& f) {
    switch (f.accord(e.nom)) {
        case Filtre::Accord::Egal: return 0;
        case Filtre::Accord::Debut: return 1;
        case Filtre::Accord::Dedans: return 2;
        case Filtre::Accord::Aucun: break;
    }
    return f.trouveDans(e.valeur) ? 3 : 4;
}

}  // namespace

std::vector<Element> elements(Arbre& arbre, const std::optional<std::string>& motif, int maximum) {
    if (maximum <= 0) return {};
    std::unique_ptr<Filtre> filtre;
    if (motif && !motif->empty()) filtre = std::make_unique<Filtre>(*motif);
    auto [l, caches] = marcher(arbre, filtre.get(), maximum, false);
    if (l.empty() && filtre && caches && !arbre.enPanne()) l = marcher(arbre, filtre.get(), maximum, true).first;
    return l;
}

std::optional<Element> viser(Arbre& arbre, const std::string& motif) {
    const Filtre filtre(motif);
    const auto [l, caches] = marcher(arbre, &filtre, maximumViser, false);
    if (auto e = choisir(l, motif)) return e;
    if (!caches || arbre.enPanne()) return std::nullopt;
    return choisir(marcher(arbre, &filtre, maximumViser, true).first, motif);
}

std::optional<Element> choisir(const std::vector<Element>& candidats, const std::string& motif) {
    const Filtre filtre(motif);
    std::vector<int> rangs;
    rangs.reserve(candidats.size());
    for (const auto& e : candidats) rangs.push_back(rang(e, filtre));
    const auto utilisable = [](const Element& e) { return e.cadre.largeur > 1.0 && e.cadre.hauteur > 1.0; };
    for (int r = 0; r < 4; ++r) {
        for (std::size_t i = 0; i < candidats.size(); ++i) {
            const Element& e = candidats[i];
            if (rangs[i] == r && e.agissable() && e.role != "AXStaticText" && utilisable(e)) return e;
        }
        for (std::size_t i = 0; i < candidats.size(); ++i)
            if (rangs[i] == r && utilisable(candidats[i])) return candidats[i];
    }
    return std::nullopt;
}

}  // namespace vimba::lecture
