#include <cstdlib>
// The reader against a real GTK3 window over AT-SPI (run inside scripts/avec-bureau.sh).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "agent/fabrique.h"
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
                         Cas{"AXStaticText", "Réglages du compte", "Réglages du compte", "texte"}}) {
        const Element* e = trouver(l, c.role, c.nom);
        ASSERT_NE(e, nullptr) << c.nom;
        EXPECT_EQ(e->valeur, c.valeur) << c.nom;
        const auto r = g.at(c.widget);
        EXPECT_NEAR(e->cadre.x, r.x, 2) << c.nom;
        EXPECT_NEAR(e->cadre.y, r.y, 2) << c.nom;
        EXPECT_NEAR(e->cadre.largeur, r.l, 2) << c.nom;
        EXPECT_NEAR(e->cadre.hauteur, r.h, 2) << c.nom;
    }
    // A widget never shown has no frame.
    if (const Element* cache = trouver(l, "AXButton", "Caché")) {
        EXPECT_EQ(cache->cadre.largeur, 0);
        EXPECT_EQ(cache->cadre.x, 0);
    }
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l.front().profondeur, 0);  // the application itself, named
}

TEST(LectureBureau, motifSansAccentsNiCasse) {
    essai::Appli a(appli());
    ASSERT_TRUE(a.pret());
    std::vector<Element> l;
    essai::attendreQue([&] {
        auto arbre = lecture::arbreApplication(a.pid());
        l = arbre ? lecture::elements(*arbre, std::string("REGLAGES"), 140) : std::vector<Element>{};
        return l.size() >= 2;
    });
    SCOPED_TRACE(enLignes(l));
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].role, "AXStaticText");
    EXPECT_EQ(l[1].role, "AXButton");
}

TEST(LectureBureau, viserCliqueLeBoutonPlutotQueLeTexte) {
    essai::Appli a(appli());
    ASSERT_TRUE(a.pret());
    // viser reads the application in front: earlier tests may have left the focus elsewhere.
    const std::string focus = "xdotool search --sync --onlyvisible --pid " + std::to_string(a.pid()) +
                              " | head -n 1 | xargs -r xdotool windowfocus --sync >/dev/null 2>&1";
    std::optional<Element> e;
    auto lecture = creerLecture();
    ASSERT_TRUE(essai::attendreQue([&] {
        if (std::system(focus.c_str()) != 0) return false;
        return (e = lecture->viser("réglages")).has_value();
    }));
    EXPECT_EQ(e->role, "AXButton");
    EXPECT_EQ(e->nom, "Réglages");
    // The technician's click lands at the middle of the frame: it must press that button.
    auto saisie = creerSaisie();
    saisie->cliquer(e->cadre.x + e->cadre.largeur / 2, e->cadre.y + e->cadre.hauteur / 2, false, false);
    EXPECT_TRUE(essai::attendreQue([&] { return a.etat("clics") == "0 1"; })) << a.etat("clics");
}

TEST(LectureBureau, uneApplicationQuiNeRepondPlusCouteUnDelai) {
    essai::Appli a(appli(), 300);
    ASSERT_TRUE(a.pret());
    ASSERT_TRUE(essai::attendreQue([&] {
        auto arbre = lecture::arbreApplication(a.pid());
        return arbre && !lecture::elements(*arbre, std::nullopt, 10).empty();
    }));
    kill(a.pid(), SIGSTOP);
    const auto debut = std::chrono::steady_clock::now();
    auto arbre = lecture::arbreApplication(a.pid(), 1000);
    std::vector<Element> l;
    if (arbre) l = lecture::elements(*arbre, std::string("introuvable"), 140);
    arbre.reset();
    const auto duree = std::chrono::steady_clock::now() - debut;
    kill(a.pid(), SIGCONT);
    EXPECT_TRUE(l.empty());
    EXPECT_TRUE(!arbre);
    EXPECT_LT(duree, std::chrono::milliseconds(1800));
    EXPECT_GE(duree, std::chrono::milliseconds(900));
}

}  // namespace
}  // namespace vimba
