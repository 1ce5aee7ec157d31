// The reader against a real GTK3 window over AT-SPI (run inside scripts/avec-bureau.sh).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "reading/linux/arbre_atspi.h"
#include "tests/reading/commun.h"

namespace vimba {
namespace {

std::string appli() { return std::string(VIMBA_ESSAIS) + "/appli_lecture"; }

const Element* trouver(const std::vector<Element>& l, const std::string& role, const std::string& nom) {
    auto it = std::find_if(l.begin(), l.end(), [&](const Element& e) { return e.role == role && e.nom == nom; });
    return it == l.end() ? nullptr : &*it;
}

TEST(LectureBureau, listeLesControlesAvecLeursCadres) {
    essai::Appli a(appli());
    ASSERT_TRUE(a.pret());
    std::vector<Element> l;
    // The bridge may take a moment to register the window's children.
    essai::attendreQue([&] {
        auto arbre = lecture::arbreApplication(a.pid());
        l = arbre ? lecture::elements(*arbre, std::nullopt, 140) : std::vector<Element>{};
        return trouver(l, "AXButton", "Envoyer") != nullptr;
    });
    SCOPED_TRACE(enLignes(l));
    const auto g = a.geometrie();
    struct Cas {
        const char* role;
        const char* nom;
        const char* valeur;
        const char* widget;
    };
    for (const Cas& c : {Cas{"AXButton", "Envoyer", "", "envoyer"}, Cas{"AXButton", "Réglages", "", "reglages"},
                         Cas{"AXCheckBox", "Actif", "0", "actif"}, Cas{"AXTextField", "Recherche", "chat", "recherche"},
                         // A named text's contents are its name: not read a second time.
                         Cas{"AXStaticText", "Réglages du compte", "", "texte"}}) {
        const Element* e = trouver(l, c.role, c.nom);
        ASSERT_NE(e, nullptr) << c.nom;
        EXPECT_EQ(e->valeur, c.valeur) << c.nom;
        const auto r = g.at(c.widget);
        EXPECT_NEAR(e->cadre.x, r.x, 2) << c.nom;
        EXPECT_NEAR(e->cadre.y, r.y, 2) << c.nom;
        EXPECT_NEAR(e->cadre.largeur, r.l, 2) << c.nom;
        EXPECT_NEAR(e->cadre.hauteur, r.h, 2) << c.nom;
    }
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l.front().profondeur, 0);  // the application itself, named
}

// A stopped application: the walk gives up at the first query that times out and says so,
// rather than asking the next ones.
TEST(LectureBureau, uneApplicationQuiNeRepondPlusArreteLaMarche) {
    essai::Appli a(appli(), 300);
    ASSERT_TRUE(a.pret());
    ASSERT_TRUE(essai::attendreQue([&] {
        auto arbre = lecture::arbreApplication(a.pid());
        return arbre && !lecture::elements(*arbre, std::nullopt, 10).empty();
    }));
    kill(a.pid(), SIGSTOP);
    auto arbre = lecture::arbreApplication(a.pid(), 1000);
    std::vector<Element> l;
    if (arbre) l = lecture::elements(*arbre, std::string("Bouton 300"), 140);
    kill(a.pid(), SIGCONT);
    ASSERT_NE(arbre, nullptr);
    EXPECT_TRUE(arbre->enPanne());
    EXPECT_TRUE(l.empty());
}

}  // namespace
}  // namespace vimba
