// The session lifecycle with a scripted launcher: steps run inline, in order.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <thread>

#include "app/cycle.h"

using namespace vimba;

namespace {

struct Banc {
    std::map<std::string, Resultat> reponses;  // by step name
    std::vector<std::string> appels, notices, principal;
    bool agit = false;
    std::map<std::string, std::function<void()>> pendant;  // runs inside the step so named
    bool differer = false;                 // background work kept until run by hand
    std::vector<Cycle::Tache> differees;
    std::shared_ptr<Cycle> cycle;

    Banc() {
        Cycle::Liens l;
        l.lancer = [this](const std::vector<std::string>& a, bool admin) {
            std::string appel = (admin ? "admin" : "user");
            for (auto& m : a) appel += " " + m;
            appels.push_back(appel);
            if (auto p = pendant.find(a[0]); p != pendant.end() && p->second) p->second();
            auto it = reponses.find(a[0]);
            return it == reponses.end() ? Resultat{true, ""} : it->second;
        };
        l.repondre = [this](const std::string& s, const std::string& t) { notices.push_back(s + ":" + t); };
        l.enFond = [this](Cycle::Tache t) {
            if (differer) differees.push_back(std::move(t));
            else t();
        };
        l.surPrincipal = [](Cycle::Tache t) { t(); };
        l.surPrincipalAttendu = [](Cycle::Tache t) { t(); };
        l.dormir = [this](double s) { principal.push_back("dormir " + std::to_string(s).substr(0, 3)); };
        l.montrerSession = [this] { principal.push_back("montrer"); };
        l.cacherSession = [this] { principal.push_back("cacher"); };
        l.agitDepuis = [this](double s) { return s == 4.0 && agit; };
        cycle = std::make_shared<Cycle>(l);
    }
};

// A failed step picks the notice's kind, and its output the sentence (the first rule that
// matches wins).
TEST(Cycle, OpeningFailuresPickTheirKindAndSentence) {
    const std::string pasAutorise = "souci-reprise:Le dépannage n’a pas été autorisé sur cet ordinateur.";
    struct Cas {
        Resultat preparer, activer;
        std::string notice;
    } cas[] = {
        {{false, "code refusé par le serveur"}, {}, "code-refuse:Ce code n’est pas valable, ou il a déjà servi. Demandez-en un nouveau à Ilvo."},
        {{false, "Code refusé"}, {}, "souci:Code refusé"},
        {{false, "outil introuvable -128"}, {},
         "souci:Le téléchargement du programme de connexion n’a pas abouti. Vérifiez votre internet, puis réessayez."},
        {{false, "tunnel muet"}, {}, "souci:La connexion sécurisée ne s’est pas établie. Si vous êtes sur le réseau d’un "
                                     "bureau ou d’une résidence, il se peut qu’il la bloque."},
        {{false, "le serveur dort"}, {}, "souci:Le serveur n’a pas répondu. Vérifiez que votre internet fonctionne."},
        {{false, "Serveur"}, {}, "souci:Serveur"},
        {{false, ""}, {}, "souci:Une étape n’a pas abouti."},
        {{false, "   "}, {}, "souci:   "},
        {{true, ""}, {false, "-128 User canceled"}, pasAutorise},
        {{true, ""}, {false, "User canceled"}, pasAutorise},
        {{true, ""}, {true, ""}, "souci:Une étape n’a pas abouti."},
        {{true, ""}, {false, "à vous de voir"}, "souci:à vous de voir"},
    };
    for (const auto& c : cas) {
        Banc b;
        b.reponses = {{"preparer", c.preparer}, {"activer", c.activer}};
        b.cycle->ouvrir("C0DE");
        ASSERT_FALSE(b.notices.empty());
        EXPECT_EQ(b.notices.back(), c.notice);
        EXPECT_FALSE(b.cycle->sessionOuverte());
        EXPECT_EQ(std::count(b.principal.begin(), b.principal.end(), "montrer"), 0);
    }
}

// Each closing asks for the password: a second "arreter" while one runs is ignored, and
// quitting before a requested closing has reached its step runs that step only once.
TEST(Cycle, OpensThenClosesOneStepAtATime) {
    auto arrets = [](const Banc& b) { return std::count(b.appels.begin(), b.appels.end(), "admin arreter"); };
    Banc b;
    b.reponses = {{"activer", {true, "jeton 7"}}};
    b.cycle->ouvrir("a b");
    EXPECT_TRUE(b.cycle->sessionOuverte());
    EXPECT_EQ(b.appels, (std::vector<std::string>{"user preparer a b", "admin activer", "user prevenir jeton 7"}));
    EXPECT_EQ(b.principal, (std::vector<std::string>{"dormir 1.2", "montrer"}));
    ASSERT_EQ(b.notices.size(), 3u);
    EXPECT_EQ(b.notices[0].rfind("avancement:Autorisation|", 0), 0u);
    EXPECT_EQ(b.notices[1], "avancement:Presque fini|On prévient Ilvo…");
    EXPECT_EQ(b.notices[2], "ouverte:");

    b.pendant["arreter"] = [&] { b.cycle->refermer(); };
    b.cycle->refermer();
    EXPECT_FALSE(b.cycle->sessionOuverte());
    EXPECT_EQ(arrets(b), 1);
    EXPECT_EQ(b.principal.back(), "cacher");
    EXPECT_EQ(b.notices.back(), "fermee:");
    EXPECT_EQ(std::count(b.notices.begin(), b.notices.end(), "fermee:"), 1);
    b.pendant.clear();
    b.cycle->refermer();
    EXPECT_EQ(arrets(b), 2) << "a closing once the first has ended runs again";
    b.cycle->terminer();
    EXPECT_EQ(arrets(b), 2) << "nothing to close when quitting";

    Banc q;
    q.reponses = {{"activer", {true, "ok"}}};
    q.cycle->activer();
    q.differer = true;
    q.cycle->refermer();
    q.cycle->terminer();
    EXPECT_EQ(arrets(q), 1);
    for (auto& t : q.differees) t();
    EXPECT_EQ(arrets(q), 1);
    q.differer = false;
    q.cycle->activer();
    EXPECT_EQ(std::count(q.appels.begin(), q.appels.end(), "admin activer"), 1) << "nothing opens after quitting";
}

// The administrator step runs off the main thread: quitting while it is under way must wait
// for it, then close the session it opened, once.
TEST(Cycle, TerminationWaitsForTheAdminStepUnderWay) {
    std::promise<void> commence, relache;
    auto relacheF = relache.get_future().share();
    Banc b;
    b.reponses = {{"activer", {true, "jeton"}}};
    b.pendant["activer"] = [&] {
        commence.set_value();
        relacheF.wait();
    };
    b.differer = true;
    b.cycle->activer();
    std::thread fond(std::move(b.differees.at(0)));
    commence.get_future().wait();
    auto fin = std::async(std::launch::async, [&] { b.cycle->terminer(); });
    EXPECT_EQ(fin.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    relache.set_value();
    fin.get();
    fond.join();
    EXPECT_EQ(b.appels, (std::vector<std::string>{"admin activer", "user prevenir jeton", "admin arreter"}));
    EXPECT_FALSE(b.cycle->sessionOuverte());
}

TEST(Cycle, WatchWords) {
    struct Cas {
        std::string sortie;
        bool agit;
        const char* etat;
    } cas[] = {
        {"ssh=1", false, "actif"},    {"ssh=0", false, "calme"},  {"x ssh=2", false, "actif"}, {"ssh=0 ssh=3", false, "calme"},
        {"x\nssh=2", false, "calme"}, {"  ssh=+4  ", false, "actif"}, {"ssh=-1", false, "calme"}, {"ssh=2x", false, "calme"},
        {"ssh=0", true, "actif"},     {"ssh=99999999999999999999", false, "calme"},
    };
    for (const auto& c : cas) EXPECT_STREQ(Cycle::etatVeille(c.sortie, c.agit).c_str(), c.etat) << c.sortie;

    Banc b;
    b.reponses = {{"veille", {false, "ssh=1"}}};
    b.cycle->veiller();
    EXPECT_EQ(b.notices.back(), "veille:actif");
    b.reponses = {{"veille", {true, "ssh=0"}}};
    b.agit = true;
    b.cycle->veiller();
    EXPECT_EQ(b.notices.back(), "veille:actif");
}

}  // namespace
