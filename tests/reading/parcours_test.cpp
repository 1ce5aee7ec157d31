// The walk's rules on a small tree double: labels, bounds, filter, choice of viser, roles.
#include <atspi/atspi.h>
#include <gtest/gtest.h>

#include "reading/arbre.h"
#include "reading/filtre.h"
#include "reading/roles.h"

namespace vimba::lecture {
namespace {

// A tree held in memory that counts what the walk asks of it.
class ArbreEssai final : public Arbre {
public:
    struct N {
        Infos infos;
        Cadre cadre{1, 2, 30, 10};
        std::vector<Noeud> enfants;
    };
    std::vector<N> noeuds{N{}};
    int lectures = 0, cadres = 0;
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
    Infos infos(Noeud n) override {
        requete();
        ++lectures;
        return noeuds[n].infos;
    }
    Cadre cadre(Noeud n) override {
        requete();
        ++cadres;
        return noeuds[n].cadre;
    }
    std::vector<Noeud> enfants(Noeud n) override {
        requete();
        return noeuds[n].enfants;
    }
    bool enPanne() const override { return panneApres == 0; }

private:
    void requete() {
        EXPECT_FALSE(enPanne()) << "asked again after a timeout";
        if (panneApres > 0) --panneApres;
    }
};

TEST(Parcours, nomEtValeurSelonLesRegles) {
    struct Cas {
        std::optional<std::string> titre, description, descriptionValeur, valeur;
        bool liste;
        std::string nom, valeurAttendue;
    };
    const Cas cas[] = {
        {"", "Fermer", {}, {}, true, "Fermer", ""},
        {"Ouvrir", "Bouton", {}, {}, true, "Ouvrir", ""},
        {{}, {}, "Moyen", {}, true, "Moyen", ""},
        {{}, {}, {}, "1", true, "", "1"},
        {"", "", "", "", false, "", ""},
        {{}, {}, {}, {}, false, "", ""},
    };
    for (const auto& c : cas) {
        ArbreEssai a;
        auto n = a.ajouter(0, "AXCheckBox");
        a.noeuds[n].infos.titre = c.titre;
        a.noeuds[n].infos.description = c.description;
        a.noeuds[n].infos.descriptionValeur = c.descriptionValeur;
        a.noeuds[n].infos.valeur = c.valeur;
        const auto l = elements(a, std::nullopt, 140);
        ASSERT_EQ(l.size(), c.liste ? 1u : 0u) << c.nom;
        if (!c.liste) continue;
        EXPECT_EQ(l[0].nom, c.nom);
        EXPECT_EQ(l[0].valeur, c.valeurAttendue);
        EXPECT_EQ(l[0].profondeur, 1);
    }
}

TEST(Parcours, unGroupeMuetEstTraverseEtLesCadresNeSontLusQuePourLesListes) {
    ArbreEssai a;
    auto groupe = a.ajouter(0, "AXGroup");
    auto sansRole = a.ajouter(groupe, "", std::string("orphelin"));
    a.ajouter(sansRole, "AXButton", std::string("Envoyer"));
    a.ajouter(groupe, "AXStaticText", std::string("Bonjour"));
    const auto l = elements(a, std::nullopt, 140);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].nom, "Envoyer");
    EXPECT_EQ(l[0].profondeur, 3);
    EXPECT_EQ(l[1].nom, "Bonjour");
    EXPECT_EQ(l[1].profondeur, 2);
    EXPECT_EQ(a.cadres, 2);
    EXPECT_EQ(enLignes(l), "Button « Envoyer » @16,7 30x10\nStaticText « Bonjour » @16,7 30x10");
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
        for (int i = 0; i < 300; ++i) a.ajouter(a.ajouter(0, "AXRow", "ligne"), "AXCell", std::string("case"));
        EXPECT_EQ(elements(a, std::nullopt, 140).size(), 140u);
        EXPECT_EQ(a.lectures, 1 + 140);
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
    ArbreEssai a;
    a.ajouter(0, "AXButton", std::string("Envoyer"));
    EXPECT_EQ(elements(a, std::nullopt, 140).size(), elements(a, std::string(""), 140).size());
}

TEST(Parcours, sArreteALaPremiereRequeteSansReponse) {
    ArbreEssai a;
    for (int i = 0; i < 50; ++i) a.ajouter(0, "AXButton", "b" + std::to_string(i));
    a.panneApres = 12;
    const auto l = elements(a, std::nullopt, 140);
    EXPECT_LT(l.size(), 6u);
    EXPECT_TRUE(a.enPanne());
}

TEST(Viser, choixEntreControlesTextesEtCadres) {
    const Cadre bon{10, 10, 40, 20}, zero{}, point{5, 5, 1, 1};
    struct Cas {
        std::vector<Element> candidats;
        std::optional<std::string> choisi;
    };
    const Cas cas[] = {
        {{{"AXStaticText", "Réglages du compte", "", bon, 1}, {"AXButton", "Réglages", "", bon, 2}}, "AXButton"},
        {{{"AXStaticText", "Réglages", "", bon, 1}, {"AXGroup", "Réglages", "", bon, 1}}, "AXStaticText"},
        {{{"AXGroup", "Réglages", "", bon, 1}, {"AXStaticText", "Réglages", "", bon, 1}}, "AXGroup"},
        {{{"AXButton", "Réglages", "", zero, 1}, {"AXButton", "Réglages", "", point, 1}}, std::nullopt},
        {{{"AXButton", "Réglages", "", zero, 1}, {"AXStaticText", "Réglages", "", bon, 1}}, "AXStaticText"},
        {{}, std::nullopt},
    };
    for (const auto& c : cas) {
        const auto e = choisir(c.candidats);
        ASSERT_EQ(e.has_value(), c.choisi.has_value());
        if (e) {
            EXPECT_EQ(e->role, *c.choisi);
        }
    }
}

TEST(Roles, tableEtNomsDeRepli) {
    const std::pair<unsigned, const char*> cas[] = {
        {ATSPI_ROLE_PUSH_BUTTON, "AXButton"},       {ATSPI_ROLE_TOGGLE_BUTTON, "AXCheckBox"},
        {ATSPI_ROLE_ENTRY, "AXTextField"},          {ATSPI_ROLE_PASSWORD_TEXT, "AXTextField"},
        {ATSPI_ROLE_SPIN_BUTTON, "AXIncrementor"},  {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup"},
        {ATSPI_ROLE_LABEL, "AXStaticText"},         {ATSPI_ROLE_TABLE_CELL, "AXCell"},
        {ATSPI_ROLE_CALENDAR, "AXCalendar"},        {ATSPI_ROLE_COLOR_CHOOSER, "AXColorChooser"},
        {ATSPI_ROLE_INVALID, ""},                   {9999, ""},
    };
    for (auto [role, ax] : cas) EXPECT_EQ(roleAX(role), ax) << role;
    EXPECT_EQ(enCamel("page tab list"), "PageTabList");
}

}  // namespace
}  // namespace vimba::lecture
