// The command language against doubles: replies, number formats, line handling, guards.
#include <algorithm>
#include <gtest/gtest.h>

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
};

struct Cas {
    const char* demande;
    const char* reponse;
};

TEST_F(Executer, RepliesToEachVerbFamily) {
    const Cas cas[] = {
        {"", "erreur demande vide"},
        {"   ", "erreur demande vide"},
        {"\nclic 1 2", "erreur demande vide"},
        {"Clic 1 2", "erreur verbe inconnu Clic"},
        {"sauter", "erreur verbe inconnu sauter"},
        {"vue", "ok vue double"},
        {"  clic  10   20  ", "ok clic 10 20"},
        {"clic 10.9 -3.7", "ok clic 10 -3"},
        {"double 1e2 +5", "ok double 100 5"},
        {"droit -0.5 0", "ok droit 0 0"},
        {"clic 10,5 3", "erreur coordonnées"},
        {"clic 10 20 30", "ok clic 10 20"},
        {"clic 10 20\r\n", "erreur coordonnées"},
        {"clic 10", "erreur coordonnées"},
        {"clic inf 3", "erreur coordonnées"},
        {"clic nan 3", "erreur coordonnées"},
        {"clic 1e19 3", "erreur coordonnées"},
        {"clic 0x10 3", "erreur coordonnées"},
        {"clic 10\t 3", "erreur coordonnées"},
        {"bouger 5 6", "ok bouger"},
        {"bouger x 6", "erreur coordonnées"},
        {"tape", "erreur rien à écrire"},
        {"tape\nabc\n", "ok 4 caractères"},
        {"touche", "erreur touche manquante"},
        {"touche CMD-A", "ok touche CMD-A"},
        {"touche cmd", "erreur touche inconnue cmd"},
        {"defiler 1 2 -3", "ok defiler -3"},
        {"defiler 1 2 +007", "ok defiler 7"},
        {"defiler 1 2 1.5", "erreur défilement"},
        {"defiler 1 2", "erreur défilement"},
        {"defiler 1 2 2147483648", "erreur défilement"},
        {"defiler 1 2 -2147483648", "ok defiler -2147483648"},
        {"montrer 300.7 -2", "ok repère 300 -2"},
        {"dire 1 2\nbonjour", "ok repère 1 2"},
        {"dire 1", "erreur coordonnées"},
        {"tracer 1,2 3,4", "ok trait 2 points"},
        {"tracer 1,2 a,b 3,4", "ok trait 2 points"},
        {"tracer ,1,,2, 3,4", "ok trait 2 points"},
        {"tracer 1,2,3 3,4", "erreur trait trop court"},
        {"tracer 1,2", "erreur trait trop court"},
        {"effacer", "ok repère effacé"},
        {"flux-stop", "ok flux arrêté"},
        {"presse-lire", "ok presse vide"},
        {"presse-ecrire", "erreur rien à coller"},
        {"etat", "ok ecran=1 agir=1 devant=?"},
    };
    for (const auto& c : cas) EXPECT_EQ((*this)(c.demande), c.reponse) << "demande: " << c.demande;
}

TEST_F(Executer, SensitiveFrontApplicationRefusesEveryVerbBeforeLookup) {
    j.devant = "Mon bitWARDEN Perso";
    for (const char* d : {"etat", "vue", "clic 1 2", "inconnu", "tape\nx"})
        EXPECT_EQ((*this)(d), "refus application sensible au premier plan (Mon bitWARDEN Perso)") << d;
    // Nothing else is asked of the desktop, but the stream is masked at once.
    EXPECT_EQ(j.appels, (std::vector<std::string>{"appDevant", "masquer", "appDevant", "appDevant", "appDevant", "appDevant"}));
    // Empty requests are answered before the guard is asked.
    j.appels.clear();
    EXPECT_EQ((*this)(""), "erreur demande vide");
    EXPECT_TRUE(j.appels.empty());
    // Accents are not folded away: "Banque" is not "Bânque".
    j.devant = "Bânque Populaire";
    EXPECT_EQ((*this)("etat"), "ok ecran=1 agir=1 devant=Bânque Populaire");
}

TEST_F(Executer, TypingCountsGraphemesAndHonoursThePasswordGuard) {
    const Cas cas[] = {
        {"tape\ne\xCC\x81t\xC3\xA9", "ok 3 caractères"},                                   // e + combining acute
        {"tape\n\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", "ok 1 caractères"},  // family ZWJ
        {"tape\n\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xA8\xF0\x9F\x87\xA6", "ok 2 caractères"},          // two flags
        {"tape\r\nab", "erreur verbe inconnu tape\r"},
        {"tape\nab\r\ncd", "ok 5 caractères"},  // CR LF is one character
        {"presse-ecrire\n\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\nx", "ok presse 3 caractères"},
    };
    for (const auto& c : cas) EXPECT_EQ((*this)(c.demande), c.reponse);
    EXPECT_EQ(j.appels.back(), "appDevant");
    EXPECT_EQ(j.presse, "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\nx");
    EXPECT_EQ((*this)("presse-lire"), "ok presse\n\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\nx");

    j.securise = true;
    j.appels.clear();
    EXPECT_EQ((*this)("tape\nsecret"), "refus champ de mot de passe");
    for (const auto& a : j.appels) EXPECT_NE(a.rfind("ecrire", 0), 0u) << "typed into a password field";
}

TEST_F(Executer, SensitiveNamesAreReadAsTheyLook) {
    struct Nom {
        const char* devant;
        const char* titre;
        const char* reponse;  // the refusal's parenthesis, or "" when served
    };
    const Nom cas[] = {
        {"\uFF22\uFF41\uFF4E\uFF51\uFF55\uFF45 Nationale", nullptr, "\uFF22\uFF41\uFF4E\uFF51\uFF55\uFF45 Nationale"},  // full width
        {"\u0412itwarden", nullptr, "\u0412itwarden"},          // Cyrillic Ve
        {"Bit\u200Bwarden", nullptr, "Bit\u200Bwarden"},        // zero-width space
        {"K\u0435\u0435P\u0430ss", nullptr, "K\u0435\u0435P\u0430ss"},  // Cyrillic e and a
        {"P\u0430yPal", nullptr, "P\u0430yPal"},
        {"\u24B7anque", nullptr, "\u24B7anque"},                // circled letter
        {"Mots de passe et clés", nullptr, "Mots de passe et clés"},
        {"Seahorse", nullptr, "Seahorse"},
        {"KWalletManager", nullptr, "KWalletManager"},
        {"Firefox", "Connexion — Ｂanque en ligne — Mozilla Firefox", "Firefox, fenêtre « Banque »"},
        {"Terminal", "ilvo@pc: pass show courriel", "Terminal, fenêtre « pass show »"},
        {nullptr, "Coffre 1Password", "?, fenêtre « 1Password »"},
        {"Bânque Populaire", nullptr, ""},  // accents still count
        {"Firefox", "Actualités — Mozilla Firefox", ""},
        {"Calculatrice", "Calculatrice", ""},
        {"Éditeur de texte", "Sans titre 1", ""},
        {"LibreOffice Writer", "Rapport passé.odt", ""},
    };
    for (const auto& c : cas) {
        j.devant = c.devant ? std::optional<std::string>(c.devant) : std::nullopt;
        j.titre = c.titre ? std::optional<std::string>(c.titre) : std::nullopt;
        const std::string r = (*this)("bouger 1 2");
        EXPECT_EQ(r, *c.reponse ? "refus application sensible au premier plan (" + std::string(c.reponse) + ")" : "ok bouger")
            << (c.devant ? c.devant : "") << " / " << (c.titre ? c.titre : "");
    }
}

TEST_F(Executer, NoKeyThatWritesReachesAPasswordField) {
    struct Touche {
        const char* demande;
        bool securise, agir;
        const char* reponse;
    };
    const char* refus = "refus champ de mot de passe";
    const Touche cas[] = {
        {"touche s", true, true, refus},
        {"touche MAJ-S", true, true, refus},
        {"touche espace", true, true, refus},
        {"touche ctrl-v", true, true, refus},
        {"touche pomme-maj-v", true, true, refus},
        {"touche cmd-a", true, true, "ok touche cmd-a"},
        {"touche tab", true, true, "ok touche tab"},
        {"touche supprimer", true, true, "ok touche supprimer"},
        {"touche alt-f", true, true, "ok touche alt-f"},
        {"touche s", false, true, "ok touche s"},
        // Without the accessibility switch the focus cannot be known: refused as a password field.
        {"touche s", false, false, refus},
        {"touche cmd-v", false, false, refus},
        {"tape\nx", false, false, refus},
        {"touche echap", false, false, "ok touche echap"},
    };
    for (const auto& c : cas) {
        j.securise = c.securise;
        j.agir = c.agir;
        j.appels.clear();
        EXPECT_EQ((*this)(c.demande), c.reponse) << c.demande;
        if (c.reponse == refus)
            for (const auto& a : j.appels) EXPECT_TRUE(a == "appDevant") << c.demande << ": " << a;
    }

    // The focus moves into a password field during the text: typing stops before the
    // first key after the Tab (or line feed) that moved it.
    struct Texte {
        int securiseApres;
        const char* tape;
    };
    const Texte textes[] = {{1, "ecrire alice"}, {2, "ecrire alice\t"}, {4, "ecrire alice\tS3cret\n"}};
    j.securise = false;
    j.agir = true;
    for (const auto& t : textes) {
        j.securiseApres = t.securiseApres;
        j.focusDemandes = 0;
        EXPECT_EQ((*this)("tape\nalice\tS3cret\nfin"), refus) << t.securiseApres;
        // The last keys sent (the front may be judged again after them).
        const auto ecrit = std::find_if(j.appels.rbegin(), j.appels.rend(), [](const std::string& a) { return a.rfind("ecrire", 0) == 0; });
        ASSERT_NE(ecrit, j.appels.rend());
        EXPECT_EQ(*ecrit, t.tape);
    }
}

TEST_F(Executer, LongRequestsHaveBoundsAndHeedTheStop) {
    struct Borne {
        std::string demande, reponse;
    };
    const std::string points = [] {
        std::string p = "tracer";
        for (int i = 0; i < 2001; ++i) p += " " + std::to_string(i) + ",1";
        return p;
    }();
    const Borne bornes[] = {
        {"tape\n" + std::string(10000, 'a'), "ok 10000 caractères"},
        {"tape\n" + std::string(10001, 'a'), "erreur texte trop long (au plus 10000 caractères)"},
        {"dire 1 2\n" + std::string(500, 'e'), "ok repère 1 2"},
        {"dire 1 2\n" + std::string(501, 'e'), "erreur étiquette trop longue (au plus 500 caractères)"},
        {points.substr(0, points.rfind(' ')), "ok trait 2000 points"},
        {points, "erreur trait trop long (au plus 2000 points)"},
    };
    for (const auto& b : bornes) EXPECT_EQ((*this)(b.demande), b.reponse) << b.demande.substr(0, 20);

    // A sensitive application comes to the front during a long text: typing ends there.
    j.appels.clear();
    j.boucle = [this] { j.devant = "Coinbase"; };
    EXPECT_EQ((*this)("tape\nab\tcd"), "refus application sensible au premier plan (Coinbase)");
    EXPECT_EQ(j.appels.back(), "ecrire ab");
    EXPECT_TRUE(j.masque);
    j.devant.reset();

    // The user stops the agent while it types: typing ends at the next step.
    j.appels.clear();
    j.boucle = [this] { agent.stopper(); };
    EXPECT_EQ((*this)("tape\nab\tcd\tef"), "erreur saisie interrompue");
    EXPECT_EQ(j.appels.back(), "ecrire ab");
    j.boucle = nullptr;
}

TEST_F(Executer, MarkerVerbsArePostedAndRunInOrderAfterTheReply) {
    EXPECT_EQ((*this)("dire 10 20 ignoré\n  première ligne\nseconde\t "), "ok repère 10 20");
    EXPECT_EQ((*this)("tracer 1,1 2,2 3,3"), "ok trait 3 points");
    EXPECT_EQ((*this)("effacer"), "ok repère effacé");
    for (const auto& a : j.appels) EXPECT_EQ(a, "appDevant");
    viderPostes(j);
    const std::vector<std::string> attendu = {"montrer 10 20 [première ligne seconde]", "tracer 3", "effacer"};
    std::vector<std::string> marques;
    for (const auto& a : j.appels)
        if (a != "appDevant") marques.push_back(a);
    EXPECT_EQ(marques, attendu);
}

TEST_F(Executer, ReadingAndAimingThroughTheAccessibilityTree) {
    j.devant = "Éditeur";
    EXPECT_EQ((*this)("lire"), "ok rien d'étiqueté dans « Éditeur » — là, il faut vraiment regarder l'image");
    EXPECT_FALSE(j.motifRecu.has_value());
    EXPECT_EQ((*this)("lire  mot   de passe "),
              "ok rien d'étiqueté dans « Éditeur » pour « mot de passe » — là, il faut vraiment regarder l'image");
    EXPECT_EQ(j.motifRecu, "mot de passe");
    EXPECT_EQ((*this)("viser"), "erreur viser quoi ?");
    EXPECT_EQ((*this)("viser Envoyer"), "erreur rien nommé « Envoyer » dans « Éditeur »");

    j.elements = {Element{"AXButton", "Envoyer", "", {100, 200, 80.5, 24}, 3}};
    EXPECT_EQ((*this)("lire"), "ok 1 éléments dans « Éditeur »\nButton « Envoyer » @140,212 80x24");
    EXPECT_EQ((*this)("viser Envoyer"), "ok clic Button « Envoyer » en 140,212");
    EXPECT_EQ(j.appels.back().rfind("cliquer 140.25", 0), 0u);

    j.agir = false;
    EXPECT_EQ((*this)("lire"), "refus autorisation de contrôle non accordée");
    EXPECT_EQ((*this)("viser Envoyer"), "refus autorisation de contrôle non accordée");
    EXPECT_EQ((*this)("etat"), "ok ecran=1 agir=0 devant=Éditeur");
}

TEST_F(Executer, StreamStartsWithDefaultsAndWaitsForThePort) {
    EXPECT_EQ((*this)("flux"), "ok flux 4242 aucun");
    EXPECT_EQ(j.appels.back(), "demarrer 1440 45 h264");
    EXPECT_EQ((*this)("flux large 80 tuiles extra"), "ok flux 4242 aucun");
    EXPECT_EQ(j.appels.back(), "demarrer 1440 80 tuiles");

    j.lecturesPortAvantOuverture = 5;
    j.pauses = 0;
    EXPECT_EQ((*this)("flux 800"), "ok flux 4242 aucun");
    EXPECT_EQ(j.pauses, 5);

    j.lecturesPortAvantOuverture = 1000;
    j.pauses = 0;
    EXPECT_EQ((*this)("flux"), "erreur flux impossible");
    EXPECT_EQ(j.pauses, 40);

    j.ecran = false;
    EXPECT_EQ((*this)("flux"), "refus autorisation d'écran non accordée");
}

TEST_F(Executer, NumbersIgnoreTheProcessLocale) {
    const char* ancien = std::setlocale(LC_ALL, nullptr);
    const std::string garde = ancien ? ancien : "C";
    if (!std::setlocale(LC_ALL, "fr_FR.UTF-8") && !std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "no comma-decimal locale installed";
    EXPECT_EQ((*this)("clic 10.5 2"), "ok clic 10 2");
    EXPECT_EQ((*this)("clic 10,5 2"), "erreur coordonnées");
    EXPECT_EQ((*this)("defiler 1 2 -1234567"), "ok defiler -1234567");
    std::setlocale(LC_ALL, garde.c_str());
}

}  // namespace
}  // namespace vimba::essais
