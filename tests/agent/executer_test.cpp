// The command language against doubles: replies, number formats, line handling, guards.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>

#include "agent/agent.h"
#include "doubles.h"

namespace vimba::essais {
namespace {

class Executer : public ::testing::Test {
protected:
    Journal j;
    Agent agent{servicesDoubles(j), "/nonexistent-vimba"};
    std::string operator()(std::string_view d) { return agent.executer(d); }
    const std::string refusChamp = "refus champ de mot de passe";
};

// Under a comma-decimal locale when one is installed: numbers must not follow it.
TEST_F(Executer, RepliesToEachVerbFamilyWithinItsBounds) {
    const std::string garde = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "fr_FR.UTF-8")) std::setlocale(LC_ALL, "de_DE.UTF-8");
    std::string points = "tracer";
    for (int i = 0; i < 2001; ++i) points += " " + std::to_string(i) + ",1";
    const std::pair<std::string, std::string> cas[] = {
        {"   ", "erreur demande vide"}, {"\nclic 1 2", "erreur demande vide"}, {"Clic 1 2", "erreur verbe inconnu Clic"},
        {"vue", "ok vue double"}, {"  clic  10   20  ", "ok clic 10 20"}, {"clic 10.9 -3.7", "ok clic 10 -3"},
        {"double 1e2 +5", "ok double 100 5"}, {"droit -0.5 0", "ok droit 0 0"}, {"clic 10 20 30", "ok clic 10 20"},
        {"clic 10,5 3", "erreur coordonnées"}, {"clic 10 20\r\n", "erreur coordonnées"}, {"clic 10", "erreur coordonnées"},
        {"clic inf 3", "erreur coordonnées"}, {"clic nan 3", "erreur coordonnées"}, {"clic 1e19 3", "erreur coordonnées"},
        {"clic 0x10 3", "erreur coordonnées"}, {"clic 10\t 3", "erreur coordonnées"}, {"bouger 5 6", "ok bouger"},
        {"tape", "erreur rien à écrire"}, {"tape\nabc\n", "ok 4 caractères"}, {"tape\r\nab", "erreur verbe inconnu tape\r"},
        {"tape\nab\r\ncd", "ok 5 caractères"},                                          // CR LF is one character
        {"tape\ne\xCC\x81t\xC3\xA9", "ok 3 caractères"},                                // e + combining acute
        {"tape\n\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9", "ok 1 caractères"},      // ZWJ sequence
        {"tape\n\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xA8\xF0\x9F\x87\xA6", "ok 2 caractères"},  // two flags
        {"touche", "erreur touche manquante"}, {"touche CMD-A", "ok touche CMD-A"}, {"touche cmd", "erreur touche inconnue cmd"},
        {"defiler 1 2 -3", "ok defiler -3"}, {"defiler 1 2 +007", "ok defiler 7"}, {"defiler 1 2 1.5", "erreur défilement"},
        {"defiler 1 2", "erreur défilement"}, {"defiler 1 2 2147483648", "erreur défilement"},
        {"defiler 1 2 -2147483648", "ok defiler -2147483648"}, {"montrer 300.7 -2", "ok repère 300 -2"},
        {"dire 1", "erreur coordonnées"}, {"tracer 1,2 a,b ,3,,4, 5,6,7", "ok trait 2 points"}, {"tracer 1,2", "erreur trait trop court"},
        {"flux-stop", "ok flux arrêté"}, {"presse-lire", "ok presse vide"}, {"presse-ecrire", "erreur rien à coller"},
        {"presse-ecrire\n \xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\nx ", "ok presse 5 caractères"},  // kept exactly
        {"presse-lire", "ok presse\n \xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\nx "}, {"etat", "ok ecran=1 agir=1 devant=?"},
        {"tape\n" + std::string(10000, 'a'), "ok 10000 caractères"},
        {"tape\n" + std::string(10001, 'a'), "erreur texte trop long (au plus 10000 caractères)"},
        {"dire 1 2\n" + std::string(500, 'e'), "ok repère 1 2"},
        {"dire 1 2\n" + std::string(501, 'e'), "erreur étiquette trop longue (au plus 500 caractères)"},
        {points.substr(0, points.rfind(' ')), "ok trait 2000 points"},
        {points, "erreur trait trop long (au plus 2000 points)"},
    };
    for (const auto& [demande, reponse] : cas) EXPECT_EQ((*this)(demande), reponse) << demande.substr(0, 30);
    std::setlocale(LC_ALL, garde.c_str());
}

TEST_F(Executer, SensitiveFrontRefusesEveryVerbBeforeLookingAtIt) {
    j.devant = "Mon bitWARDEN Perso";
    for (const char* d : {"etat", "vue", "clic 1 2", "inconnu", "tape\nx"})
        EXPECT_EQ((*this)(d), "refus application sensible au premier plan (Mon bitWARDEN Perso)") << d;
    // Nothing else is asked of the desktop, but the stream is masked at once.
    EXPECT_EQ(j.appels, (std::vector<std::string>{"appDevant", "masquer", "appDevant", "appDevant", "appDevant", "appDevant"}));
    j.appels.clear();
    EXPECT_EQ((*this)(""), "erreur demande vide");
    EXPECT_TRUE(j.appels.empty()) << "an empty request is answered before the guard";

    struct Nom {
        const char *devant, *titre, *refus;  // refus: the refusal's parenthesis, or null when served
    };
    const Nom noms[] = {
        {"\uFF22\uFF41\uFF4E\uFF51\uFF55\uFF45 Nationale", nullptr, "\uFF22\uFF41\uFF4E\uFF51\uFF55\uFF45 Nationale"},  // full width
        {"Bit\u200Bwarden", nullptr, "Bit\u200Bwarden"},                // zero-width space
        {"K\u0435\u0435P\u0430ss", nullptr, "K\u0435\u0435P\u0430ss"},  // Cyrillic e and a
        {"\u24B7anque", nullptr, "\u24B7anque"},                        // circled letter
        {"Mots de passe et clés", nullptr, "Mots de passe et clés"},
        {"Firefox", "Connexion — Ｂanque en ligne — Mozilla Firefox", "Firefox, fenêtre « Banque »"},
        {"Terminal", "ilvo@pc: pass show courriel", "Terminal, fenêtre « pass show »"},
        {nullptr, "Coffre 1Password", "?, fenêtre « 1Password »"},
        {"Bânque Populaire", nullptr, nullptr},  // accents still count
        {"LibreOffice Writer", "Rapport passé.odt", nullptr},
    };
    for (const auto& n : noms) {
        j.devant = n.devant ? std::optional<std::string>(n.devant) : std::nullopt;
        j.titre = n.titre ? std::optional<std::string>(n.titre) : std::nullopt;
        EXPECT_EQ((*this)("bouger 1 2"), n.refus ? "refus application sensible au premier plan (" + std::string(n.refus) + ")" : "ok bouger")
            << (n.devant ? n.devant : "") << " / " << (n.titre ? n.titre : "");
    }
    // A sensitive window came to the front between the two looks: it is the one named.
    j.devant = "Appli essai";
    j.titre = "Bitwarden";
    j.devantApresTitre = "Bitwarden";
    EXPECT_EQ((*this)("bouger 1 2"), "refus application sensible au premier plan (Bitwarden)");
}

TEST_F(Executer, NoTextReachesAPasswordFieldOrAnUnreadableFocus) {
    struct Cas {
        const char* demande;
        bool securise, agir, refuse;
    };
    const Cas cas[] = {
        {"touche s", true, true, true},       {"touche MAJ-S", true, true, true},   {"touche espace", true, true, true},
        {"touche ctrl-v", true, true, true},  {"touche pomme-maj-v", true, true, true}, {"tape\nx", true, true, true},
        {"touche cmd-a", true, true, false},  {"touche tab", true, true, false},     {"touche alt-f", true, true, false},
        {"touche s", false, true, false},
        // Without the accessibility switch the focus cannot be known: refused as a password field.
        {"touche s", false, false, true},     {"touche cmd-v", false, false, true}, {"tape\nx", false, false, true},
        {"touche echap", false, false, false},
    };
    for (const auto& c : cas) {
        j.securise = c.securise;
        j.agir = c.agir;
        j.appels.clear();
        const std::string r = (*this)(c.demande);
        EXPECT_EQ(r == refusChamp, c.refuse) << c.demande << ": " << r;
        if (c.refuse) {
            for (const auto& a : j.appels) EXPECT_EQ(a, "appDevant") << c.demande;
        }
    }

    // The focus moves into a password field during the text, or accessibility is switched
    // off: typing stops before the first key after the Tab (or line feed) where it was seen.
    j.securise = false;
    j.agir = true;
    const std::pair<std::function<void(int)>, const char*> changements[] = {
        {[this](int n) { j.securise = n > 1; }, "ecrire alice"},
        {[this](int n) { j.securise = n > 2; }, "ecrire alice\t"},
        {[this](int n) { j.securise = n > 4; }, "ecrire alice\tS3cret\n"},
        {[this](int n) { j.agir = n <= 1; }, "ecrire alice\t"},
    };
    for (const auto& [changer, tape] : changements) {
        j.securise = false;
        j.agir = true;
        j.focusDemandes = 0;
        j.surFocus = changer;
        EXPECT_EQ((*this)("tape\nalice\tS3cret\nfin"), refusChamp) << tape;
        const auto ecrit = std::find_if(j.appels.rbegin(), j.appels.rend(), [](const std::string& a) { return a.starts_with("ecrire"); });
        ASSERT_NE(ecrit, j.appels.rend());
        EXPECT_EQ(*ecrit, tape);
    }
}

TEST_F(Executer, LongTextHeedsTheFrontAndTheStop) {
    // A sensitive application comes to the front during a long text, or the user stops the
    // agent: typing ends at the next step.
    j.boucle = [this] { j.devant = "Coinbase"; };
    EXPECT_EQ((*this)("tape\nab\tcd"), "refus application sensible au premier plan (Coinbase)");
    EXPECT_EQ(j.appels.back(), "ecrire ab");
    EXPECT_TRUE(j.masque);
    j.devant.reset();
    j.boucle = [this] { agent.stopper(); };
    EXPECT_EQ((*this)("tape\nab\tcd\tef"), "erreur saisie interrompue");
    EXPECT_EQ(j.appels.back(), "ecrire ab");
}

TEST_F(Executer, MarkerVerbsArePostedAndRunInOrderAfterTheReply) {
    EXPECT_EQ((*this)("dire 10 20 ignoré\n  première ligne\nseconde\t "), "ok repère 10 20");
    EXPECT_EQ((*this)("tracer 1,1 2,2 3,3"), "ok trait 3 points");
    EXPECT_EQ((*this)("effacer"), "ok repère effacé");
    j.appels.clear();
    viderPostes(j);
    EXPECT_EQ(j.appels, (std::vector<std::string>{"montrer 10 20 [première ligne seconde]", "tracer 3", "effacer"}));
}

TEST_F(Executer, ReadingAimingAndStreaming) {
    j.devant = "Éditeur";
    EXPECT_EQ((*this)("lire  mot   de passe "),
              "ok rien d'étiqueté dans « Éditeur » pour « mot de passe » — là, il faut vraiment regarder l'image");
    EXPECT_EQ(j.motifRecu, "mot de passe");
    EXPECT_EQ((*this)("viser"), "erreur viser quoi ?");
    EXPECT_EQ((*this)("viser Envoyer"), "erreur rien nommé « Envoyer » dans « Éditeur »");
    j.elements = {Element{"AXButton", "Envoyer", "", {100, 200, 80.5, 24}, 3}};
    EXPECT_EQ((*this)("lire"), "ok 1 éléments dans « Éditeur »\nButton « Envoyer » @140,212 80x24");
    EXPECT_FALSE(j.motifRecu.has_value());
    EXPECT_EQ((*this)("viser Envoyer"), "ok clic Button « Envoyer » en 140,212");
    EXPECT_TRUE(j.appels.back().starts_with("cliquer 140.25"));

    EXPECT_EQ((*this)("flux large 80 tuiles extra"), "ok flux 4242 aucun");
    EXPECT_EQ(j.appels.back(), "demarrer 1440 80 tuiles");
    j.lecturesPortAvantOuverture = 5;
    EXPECT_EQ((*this)("flux"), "ok flux 4242 aucun");
    EXPECT_EQ(j.appels.back(), "demarrer 1440 45 h264");
    EXPECT_EQ(j.pauses, 5);
    j.lecturesPortAvantOuverture = 1000;
    EXPECT_EQ((*this)("flux 800"), "erreur flux impossible");
    EXPECT_EQ(j.pauses, 45);

    j.agir = j.ecran = false;
    EXPECT_EQ((*this)("lire"), "refus autorisation de contrôle non accordée");
    EXPECT_EQ((*this)("viser Envoyer"), "refus autorisation de contrôle non accordée");
    EXPECT_EQ((*this)("flux"), "refus autorisation d'écran non accordée");
    EXPECT_EQ((*this)("etat"), "ok ecran=0 agir=0 devant=Éditeur");
}

}  // namespace
}  // namespace vimba::essais
