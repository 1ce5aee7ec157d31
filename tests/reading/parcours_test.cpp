// The walk's rules on a small tree double: labels, bounds, filter, what is on screen
// first, choice of viser; the lines as the technician reads them.
#include <gtest/gtest.h>

#include "reading/arbre.h"
#include "reading/filtre.h"

namespace vimba::lecture {
namespace {

// A tree held in memory that counts what the walk asks of it.
class ArbreEssai : public Arbre {
public:
    struct N {
        Infos infos;
        Cadre cadre{1, 2, 30, 10};
        std::vector<Noeud> enfants;
        std::optional<std::string> etiquette;
        bool montre = true;
    };
    std::vector<N> noeuds{N{}};
    int sondes = 0, lectures = 0, cadres = 0, relations = 0;
    int panneApres = -1;  // queries answered before the application stops answering

    Noeud ajouter(Noeud parent, std::string role, std::optional<std::string> titre = {},
                  std::optional<std::string> valeur = {}) {
        N n;
        n.infos.role = std::move(role);
        n.infos.titre = std::move(titre);
        n.infos.valeur = std::move(valeur);
        noeuds.push_back(n);
        noeuds[parent].enfants.push_back(noeuds.size() - 1);
        return noeuds.size() - 1;
    }
    Noeud racine() override { return 0; }
    bool montre(Noeud n) override { requete(sondes); return noeuds[n].montre; }
    Infos infos(Noeud n) override { requete(lectures); return noeuds[n].infos; }
    Cadre cadre(Noeud n) override {
        if (enPanne()) return {};
        requete(cadres);
        return noeuds[n].cadre;
    }
    std::vector<Noeud> enfants(Noeud n) override { requete(listes); return noeuds[n].enfants; }
    std::optional<std::string> etiquette(Noeud n) override { requete(relations); return noeuds[n].etiquette; }
    bool enPanne() const override { return panneApres == 0; }

private:
    int listes = 0;
    void requete(int& compte) {
        EXPECT_FALSE(enPanne()) << "asked again after a timeout";
        ++compte;
        if (panneApres > 0) --panneApres;
    }
};

// The name: title, description, value description, else a separate label for a control;
// listed only with a role and a name or a value.
TEST(Parcours, nomValeurEtEtiquette) {
    struct Cas {
        const char* role;
        std::optional<std::string> titre, description, descriptionValeur, valeur, etiquette;
        bool liste;
        std::string nom, valeurAttendue;
        int relations;
    };
    const Cas cas[] = {
        {"AXCheckBox", "", "Fermer", {}, {}, {}, true, "Fermer", "", 0},
        {"AXCheckBox", "Ouvrir", "Bouton", {}, {}, {}, true, "Ouvrir", "", 0},
        {"AXCheckBox", {}, {}, "Moyen", {}, {}, true, "Moyen", "", 0},
        {"AXCheckBox", {}, "Fermer", "Moyen", {}, {}, true, "Fermer", "", 0},
        {"AXCheckBox", {}, {}, {}, "1", {}, true, "", "1", 1},
        {"AXCheckBox", "", "", "", "", {}, false, "", "", 1},
        {"AXTextField", {}, {}, {}, {}, "Nom :", true, "Nom :", "", 1},
        {"AXTextField", "", {}, {}, "notebook.txt", "Nom :", true, "Nom :", "notebook.txt", 1},
        {"AXTextField", "Recherche", {}, {}, {}, "Nom :", true, "Recherche", "", 0},
        {"AXStaticText", {}, {}, {}, {}, "Nom :", false, "", "", 0},
        {"AXGroup", {}, {}, {}, {}, "Nom :", false, "", "", 0},
        {"", "Envoyer", {}, {}, {}, {}, false, "", "", 0},
    };
    for (const auto& c : cas) {
        ArbreEssai a;
        auto n = a.ajouter(0, c.role, c.titre, c.valeur);
        a.noeuds[n].infos.description = c.description;
        a.noeuds[n].infos.descriptionValeur = c.descriptionValeur;
        a.noeuds[n].etiquette = c.etiquette;
        const auto l = elements(a, std::nullopt, 140);
        ASSERT_EQ(l.size(), c.liste ? 1u : 0u) << c.role << " " << c.nom;
        EXPECT_EQ(a.relations, c.relations) << c.role << " " << c.nom;
        if (!c.liste) continue;
        EXPECT_EQ(l[0].nom, c.nom);
        EXPECT_EQ(l[0].valeur, c.valeurAttendue);
    }
}

// Unlisted nodes are walked through; frames are read for the listed ones only.
TEST(Parcours, unGroupeMuetEstTraverseEtLesCadresNeSontLusQuePourLesListes) {
    for (const auto& motif : {std::optional<std::string>{}, std::optional<std::string>("bonjour")}) {
        ArbreEssai a;
        auto groupe = a.ajouter(0, "AXGroup");
        auto sansRole = a.ajouter(groupe, "", std::string("orphelin"));
        a.ajouter(sansRole, "AXButton", std::string("Envoyer"));
        a.ajouter(groupe, "AXStaticText", std::string("Bonjour"));
        std::vector<std::pair<std::string, std::int64_t>> l;
        for (const auto& e : elements(a, motif, 140)) l.emplace_back(e.nom, e.profondeur);
        using L = decltype(l);
        const L attendu = motif ? L{{"Bonjour", 2}} : L{{"Envoyer", 3}, {"Bonjour", 2}};
        EXPECT_EQ(l, attendu);
        EXPECT_EQ(a.cadres, static_cast<int>(l.size()));
    }
}

TEST(Lignes, roleNomValeurEtPosition) {
    std::string accents90, accents91;
    for (int i = 0; i < 90; ++i) accents90 += "é";
    accents91 = accents90 + "é";
    struct Cas {
        Element e;
        std::string ligne;
    };
    const Cas cas[] = {
        {{"AXButton", "Envoyer", "", {100, 200, 80.5, 24}, 1}, "Button « Envoyer » @140,212 80x24"},
        {{"AXTextField", "Recherche", "chat", {10, 20, 200, 22}, 1}, "TextField « Recherche » = chat @110,31 200x22"},
        {{"AXStaticText", "Bonjour", "Bonjour", {0, 0, 10, 10}, 1}, "StaticText « Bonjour » @5,5 10x10"},
        {{"AXCheckBox", "", "1", {0, 0, 10, 10}, 1}, "CheckBox «  » = 1 @5,5 10x10"},
        {{"AXTextArea", "", "a\nb\r\nc", {0, 0, 10, 10}, 1}, "TextArea «  » = a b\r c @5,5 10x10"},
        {{"AXTextArea", "", accents90, {0, 0, 10, 10}, 1}, "TextArea «  » = " + accents90 + " @5,5 10x10"},
        {{"AXTextArea", "", accents91, {0, 0, 10, 10}, 1}, "TextArea «  » = " + accents90 + "… @5,5 10x10"},
        {{"Custom", "x", "", {-20, -100, 5, 3.9}, 1}, "Custom « x » @-17,-98 5x3"},
        {{"AXCell", "c", "", {}, 1}, "Cell « c » @0,0 0x0"},
    };
    for (const auto& c : cas) EXPECT_EQ(enLignes({c.e}), c.ligne);
    EXPECT_EQ(enLignes({cas[0].e, cas[2].e}), cas[0].ligne + "\n" + cas[2].ligne);
    EXPECT_EQ(enLignes({}), "");
}

TEST(Parcours, lesTroisBornes) {
    {  // 24 levels are visited, the 25th is not
        ArbreEssai a;
        Arbre::Noeud n = 0;
        for (int p = 1; p < 30; ++p) n = a.ajouter(n, "AXGroup", "niveau " + std::to_string(p));
        const auto l = elements(a, std::nullopt, 1000);
        ASSERT_EQ(l.size(), 23u);
        EXPECT_EQ(l.back().profondeur, 23);
        EXPECT_EQ(a.lectures, 24);
    }
    {  // 4000 visits at most: a match beyond them is never found
        ArbreEssai a;
        for (int i = 0; i < 5000; ++i) a.ajouter(0, "AXGroup");
        a.noeuds[4500].infos.titre = "loin";
        a.noeuds[3999].infos.titre = "dernier";
        EXPECT_TRUE(elements(a, std::string("loin"), 140).empty());
        EXPECT_EQ(a.lectures, 4000);
        EXPECT_EQ(elements(a, std::string("dernier"), 140).size(), 1u);
    }
    {  // maximum listed, and the walk stops descending there
        ArbreEssai a;
        const auto fenetre = a.ajouter(0, "AXWindow");
        for (int i = 0; i < 300; ++i) a.ajouter(a.ajouter(fenetre, "AXRow", "ligne"), "AXCell", std::string("case"));
        EXPECT_EQ(elements(a, std::nullopt, 140).size(), 140u);
        EXPECT_EQ(a.lectures, 2 + 140);
        EXPECT_TRUE(elements(a, std::nullopt, 0).empty());
    }
}

TEST(Parcours, filtreSansCasseNiAccentsDansLesDeuxSens) {
    struct Cas {
        const char* motif;
        const char* nom;
        const char* valeur;
        bool trouve;
    };
    const Cas cas[] = {
        {"reglages", "Réglages", "", true},   {"Réglages", "reglages", "", true},  {"RÉGLAGES", "réglages", "", true},
        {"OK", "ok", "", true},               {"chat", "Recherche", "Le Chat", true}, {"button", "Envoyer", "", false},
        {"", "Envoyer", "", true},            {"élan", "Elan vital", "", true},    {"straße", "STRASSE", "", true},
        {"e", "", "", false},
    };
    for (const auto& c : cas) {
        ArbreEssai a;
        a.ajouter(0, "AXButton", std::string(c.nom), std::string(c.valeur));
        const auto l = elements(a, std::string(c.motif), 140);
        EXPECT_EQ(l.size(), c.trouve ? 1u : 0u) << c.motif << " / " << c.nom;
    }
}

TEST(Parcours, sArreteALaPremiereRequeteSansReponse) {
    ArbreEssai a;
    for (int i = 0; i < 50; ++i) a.ajouter(0, "AXButton", "b" + std::to_string(i));
    a.panneApres = 12;
    const auto l = elements(a, std::nullopt, 140);
    EXPECT_LT(l.size(), 6u);
    EXPECT_TRUE(a.enPanne());
}

// An editor: a window with a menu bar whose menus are closed, under a modal dialog, and a
// hidden preferences window.
struct Editeur : ArbreEssai {
    Noeud editeur, menu, coller, dialogue, nomFichier, preferences;
    Editeur() {
        noeuds[0].infos.role = "AXApplication";
        noeuds[0].infos.titre = "editeur";
        noeuds[0].montre = false;  // applications have no screen state
        editeur = ajouter(0, "AXWindow", "Éditeur");
        menu = ajouter(ajouter(editeur, "AXMenuBar"), "AXMenu", "Fichier");
        coller = ajouter(menu, "AXMenuItem", "Coller");
        ajouter(menu, "AXMenuItem", "Enregistrer");
        for (int i = 0; i < 40; ++i) ajouter(menu, "AXMenuItem", "Récent " + std::to_string(i));
        for (Noeud n = coller; n < noeuds.size(); ++n) noeuds[n].montre = false;
        ajouter(editeur, "AXTextArea", {}, "Texte du document");
        dialogue = ajouter(0, "AXWindow", "Enregistrer sous");
        nomFichier = ajouter(dialogue, "AXTextField", {}, "notebook.txt");
        noeuds[nomFichier].etiquette = "Nom :";
        ajouter(dialogue, "AXButton", "OK");
        preferences = ajouter(0, "AXWindow", "Préférences");
        noeuds[preferences].montre = false;
        ajouter(preferences, "AXButton", "Fermer");
    }
    std::vector<std::string> noms(const std::optional<std::string>& motif) {
        std::vector<std::string> r;
        for (const auto& e : elements(*this, motif, 140)) r.push_back(e.nom.empty() ? e.valeur : e.nom);
        return r;
    }
};

TEST(Parcours, laFenetreDevantDAbordEtCeQuiEstCacheSeulementSurDemande) {
    using Noms = std::vector<std::string>;
    const Noms devantPuisLeReste = {"editeur", "Enregistrer sous", "Nom :", "OK", "Éditeur", "Fichier", "Texte du document"};
    const Noms dansLOrdre = {"editeur", "Éditeur", "Fichier", "Texte du document", "Enregistrer sous", "Nom :", "OK"};
    struct Cas {
        const char* quoi;
        bool dialogueModal, dialogueActif, editeurActif;
        std::optional<std::string> motif;
        Noms attendu;
    };
    const Cas cas[] = {
        {"modal dialog first", true, false, true, std::nullopt, devantPuisLeReste},
        {"active window first", false, true, false, std::nullopt, devantPuisLeReste},
        {"no window in front: toolkit order", false, false, false, std::nullopt, dansLOrdre},
        {"what shows matches: no hidden item", false, false, false, std::string("fichier"), {"Fichier"}},
        {"only hidden items match", false, false, false, std::string("coller"), {"Coller"}},
        {"hidden window", false, false, false, std::string("fermer"), {"Fermer"}},
        {"matches nowhere", false, false, false, std::string("introuvable"), {}},
    };
    for (const auto& c : cas) {
        Editeur a;
        a.noeuds[a.dialogue].infos.modal = c.dialogueModal;
        a.noeuds[a.dialogue].infos.actif = c.dialogueActif;
        a.noeuds[a.editeur].infos.actif = c.editeurActif;
        EXPECT_EQ(a.noms(c.motif), c.attendu) << c.quoi;
    }
    // A closed menu's items are only asked whether they show, and nothing under them is.
    Editeur a;
    a.ajouter(a.coller, "AXMenuItem", "Sous-article");
    a.noms(std::nullopt);
    EXPECT_EQ(a.sondes, 8 + 42);   // the nodes under the application, the closed menu's items
    EXPECT_EQ(a.lectures, 1 + 7);  // the application, and what shows
}

TEST(Parcours, uneLongueListeDefileeNeLitQueLeVoisinageDeCeQuiSeVoit) {
    using Plage = std::pair<int, int>;  // shown children [first, last)
    struct Cas {
        std::vector<Plage> montrees;
    };
    const Cas cas[] = {
        {{{0, 30}}},
        {{{700, 740}}},  // a grid whose toolkit lists its children backwards
        {{{0, 10}, {500, 530}}},
        {{{960, 1000}}},
    };
    for (const auto& c : cas) {
        ArbreEssai a;
        const auto liste = a.ajouter(a.ajouter(0, "AXWindow"), "AXList");
        std::vector<std::string> attendus;
        for (int i = 0; i < 1000; ++i) {
            const auto n = a.ajouter(liste, "AXCell", "case " + std::to_string(i));
            bool montre = false;
            for (auto [debut, fin] : c.montrees) montre |= i >= debut && i < fin;
            a.noeuds[n].montre = montre;
            if (montre) attendus.push_back("case " + std::to_string(i));
        }
        std::vector<std::string> noms;
        for (const auto& e : elements(a, std::nullopt, 140)) noms.push_back(e.nom);
        EXPECT_EQ(noms, attendus) << c.montrees.front().first;
        // One child in 16 while stepping, and a few runs of 16 around what shows.
        EXPECT_LE(a.sondes, static_cast<int>(1000 / 16 + attendus.size() + 4 * 16)) << c.montrees.front().first;
    }
    // A lone shown child between two steps is missed by the list, not by a search.
    ArbreEssai a;
    const auto liste = a.ajouter(a.ajouter(0, "AXWindow"), "AXList");
    for (int i = 0; i < 1000; ++i) a.noeuds[a.ajouter(liste, "AXCell", "case " + std::to_string(i))].montre = i == 300;
    EXPECT_EQ(elements(a, std::string("case 300"), 140).size(), 1u);
    EXPECT_EQ(viser(a, "case 300")->nom, "case 300");
}

// By rank of the name, then a control before plain text, then anything, always with a
// frame larger than 1×1; the answer is "role nom".
TEST(Viser, rangDuNomPuisControlesAvantTextesEtCadres) {
    const Cadre bon{10, 10, 40, 20}, zero{}, point{5, 5, 1, 1};
    struct Cas {
        const char* motif;
        std::vector<Element> candidats;
        std::optional<std::string> choisi;
    };
    const Cas cas[] = {
        // A calculator's keys: toggle buttons whose value 0 says "not pressed".
        {"0", {{"AXCheckBox", "<-", "0", bon, 2}, {"AXCheckBox", "0", "0", bon, 2}}, "AXCheckBox 0"},
        {"-", {{"AXCheckBox", "<-", "0", bon, 2}, {"AXCheckBox", "-", "0", bon, 2}}, "AXCheckBox -"},
        {"OK", {{"AXTextField", "Nom :", "notebook.txt", bon, 2}, {"AXButton", "OK", "", bon, 2}}, "AXButton OK"},
        {"reglages", {{"AXButton", "Réglages avancés", "", bon, 2}, {"AXButton", "RÉGLAGES", "", bon, 2}}, "AXButton RÉGLAGES"},
        {"ouvrir", {{"AXButton", "Rouvrir", "", bon, 2}, {"AXButton", "Ouvrir récent", "", bon, 2}}, "AXButton Ouvrir récent"},
        {"ouvrir", {{"AXTextField", "Recherche", "ouvrir", bon, 2}, {"AXButton", "Rouvrir", "", bon, 2}}, "AXButton Rouvrir"},
        // Within a rank, a control before plain text; across ranks, the rank wins.
        {"ok", {{"AXStaticText", "OK", "", bon, 2}, {"AXButton", "OK", "", bon, 2}}, "AXButton OK"},
        {"ok", {{"AXButton", "OK pour tous", "", bon, 2}, {"AXStaticText", "ok", "", bon, 2}}, "AXStaticText ok"},
        {"Réglages", {{"AXStaticText", "Réglages du compte", "", bon, 1}, {"AXButton", "Réglages", "", bon, 2}}, "AXButton Réglages"},
        {"Réglages", {{"AXStaticText", "Réglages", "", bon, 1}, {"AXGroup", "Réglages", "", bon, 1}}, "AXStaticText Réglages"},
        {"Réglages", {{"AXGroup", "Réglages", "", bon, 1}, {"AXStaticText", "Réglages", "", bon, 1}}, "AXGroup Réglages"},
        // Without a usable frame the next one, or the next rank, gets its turn.
        {"ok", {{"AXButton", "OK", "", zero, 2}, {"AXButton", "OK pour tous", "", bon, 2}}, "AXButton OK pour tous"},
        {"Réglages", {{"AXButton", "Réglages", "", zero, 1}, {"AXStaticText", "Réglages", "", bon, 1}}, "AXStaticText Réglages"},
        {"Réglages", {{"AXButton", "Réglages", "", zero, 1}, {"AXButton", "Réglages", "", point, 1}}, std::nullopt},
        {"Réglages", {{"AXButton", "Réglages", "", Cadre{0, 0, 1, 20}, 1}}, std::nullopt},
        {"Réglages", {}, std::nullopt},
    };
    for (const auto& c : cas) {
        const auto e = choisir(c.candidats, c.motif);
        EXPECT_EQ(e ? std::optional(e->role + " " + e->nom) : std::nullopt, c.choisi) << c.motif;
    }
}

TEST(Viser, leCacheSeulementQuandRienALEcranNeRepond) {
    Editeur a;
    a.noeuds[a.coller].cadre = Cadre{0, 0, 80, 20};
    struct Cas {
        const char* motif;
        std::optional<std::string> choisi;
    };
    const Cas cas[] = {
        {"ok", "OK"},
        {"nom", "Nom :"},
        {"enregistrer", "Enregistrer sous"},  // a window on screen before an item of a closed menu
        {"coller", "Coller"},
        {"introuvable", std::nullopt},
    };
    for (const auto& c : cas) {
        const auto e = viser(a, c.motif);
        ASSERT_EQ(e.has_value(), c.choisi.has_value()) << c.motif;
        if (e) {
            EXPECT_EQ(e->nom, *c.choisi) << c.motif;
        }
    }
}

}  // namespace
}  // namespace vimba::lecture
