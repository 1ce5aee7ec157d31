// The technician's acts around the service and the SSH link, both played by doubles: what
// each answer of the service and each exit of the gate become, and what is kept of a session.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>

#include "tools/technicien/technicien.h"

using namespace vimba::technicien;

namespace {

struct Journal {
    std::deque<Service::Etat> etats;  // what successive long polls answer
    std::string erreurService;
    std::vector<std::string> fermees;
    int codesCrees = 0, ouvertures = 0;
    bool liaisonOuverte = false;
    Liaison::Resultat porte;
    std::vector<std::string> commandes;
};

class ServiceDouble : public Service {
public:
    explicit ServiceDouble(Journal& j) : j_(j) {}
    bool creerCode(const std::string&, const std::string& cle, Code& code, std::string&) override {
        EXPECT_EQ(cle.rfind("ssh-ed25519 ", 0), 0u);
        code = {"12345" + std::to_string(j_.codesCrees), "s" + std::to_string(j_.codesCrees), 0};
        ++j_.codesCrees;
        return true;
    }
    bool attendre(Session& s, int, Etat& etat, std::string& erreur) override {
        if (!j_.erreurService.empty()) return erreur = j_.erreurService, false;
        // Polled past the script: the tool should have stopped by now.
        if (j_.etats.empty()) {
            ADD_FAILURE() << "attendre appelé de trop";
            erreur = "fin du script";
            return false;
        }
        etat = j_.etats.front();
        j_.etats.pop_front();
        if (etat == Etat::prete) {
            s.prete = true;
            s.relais = {"127.0.0.1", 2222, "vimba-relais", "ssh-ed25519 AAAA", 23456};
            s.ordinateur = {23456, "ssh-ed25519 BBBB", "vimba-technicien"};
        }
        return true;
    }
    bool fermer(const Session& s, std::string&) override {
        j_.fermees.push_back(s.id);
        return true;
    }

private:
    Journal& j_;
};

class LiaisonDouble : public Liaison {
public:
    explicit LiaisonDouble(Journal& j) : j_(j) {}
    bool ouvrir(Session&, std::string&) override {
        ++j_.ouvertures;
        return j_.liaisonOuverte = true;
    }
    bool ouverte(const Session&) override { return j_.liaisonOuverte; }
    Resultat executer(const Session&, const std::string& commande, const std::string& entree) override {
        j_.commandes.push_back(commande + ":" + entree);
        return j_.porte;
    }
    pid_t brancher(const Session&, const std::string&, int) override { return -1; }
    void fermer(Session&) override { j_.liaisonOuverte = false; }

private:
    Journal& j_;
};

class Actes : public ::testing::Test {
protected:
    void SetUp() override {
        char modele[] = "/tmp/technicien-actes-XXXXXX";
        racine_ = ::mkdtemp(modele);
        ::setenv("XDG_CONFIG_HOME", racine_.c_str(), 1);
        ::setenv("VIMBA_SERVICE", "http://127.0.0.1:1", 1);
        ::setenv("VIMBA_JETON", "jeton", 1);
        std::string erreur;
        configuration_ = *lireConfiguration(erreur);
    }
    void TearDown() override { std::filesystem::remove_all(racine_); }
    Technicien technicien(Journal& j) {
        return Technicien(configuration_, std::make_unique<ServiceDouble>(j), std::make_unique<LiaisonDouble>(j));
    }
    std::string racine_;
    Configuration configuration_;
};

}  // namespace

TEST_F(Actes, AttendreSelonLeService) {
    using E = Service::Etat;
    struct Cas {
        std::deque<E> etats;
        std::string erreur;
        int statut;
        const char* texte;
        bool sessionGardee;
    };
    const std::vector<Cas> cas = {
        {{E::attente, E::attente, E::prete}, "", 0, "session prête", true},
        {{E::attente, E::expiree}, "", 1, "a expiré", false},
        {{E::fermee}, "", 1, "la session a été fermée", false},
        {{}, "le service de dépannage est injoignable", 1, "injoignable", true},
    };
    for (const auto& c : cas) {
        Journal j;
        j.etats = c.etats;
        j.erreurService = c.erreur;
        auto t = technicien(j);
        ASSERT_EQ(t.code().statut, 0);
        const Issue i = t.attendre(0, false);
        EXPECT_EQ(i.statut, c.statut) << c.texte;
        EXPECT_NE(i.texte.find(c.texte), std::string::npos) << i.texte;
        EXPECT_EQ(lireSession(configuration_).has_value(), c.sessionGardee) << c.texte;
        EXPECT_EQ(j.ouvertures, c.statut == 0 ? 1 : 0) << c.texte;
        oublierSession(configuration_);
    }
}

TEST_F(Actes, DemandeSelonLaPorte) {
    const std::vector<std::pair<Liaison::Resultat, Issue>> cas = {
        {{0, "ok clic 1 2", ""}, {0, "ok clic 1 2"}},
        {{1, "refus champ de mot de passe", ""}, {1, "refus champ de mot de passe"}},
        {{2, "", "vimba-porte : pas de réponse (l’agent tourne-t-il ?)\n"}, {2, "vimba-porte : pas de réponse (l’agent tourne-t-il ?)"}},
        {{3, "", "vimba-porte : commande refusée\n"}, {2, "l’ordinateur a refusé la commande « demande »"}},
        {{-1, "", "relais refusé : le relais ne laisse pas passer"}, {2, "relais refusé : le relais ne laisse pas passer"}},
    };
    for (const auto& [porte, attendue] : cas) {
        Journal j;
        j.etats = {Service::Etat::prete};
        auto t = technicien(j);
        ASSERT_EQ(t.code().statut, 0);
        ASSERT_EQ(t.attendre(0, false).statut, 0);
        // A lost control connection is made again before the request goes.
        j.liaisonOuverte = false;
        j.porte = porte;
        const Issue i = t.demande("clic 1 2");
        EXPECT_EQ(i.statut, attendue.statut) << attendue.texte;
        EXPECT_EQ(i.texte, attendue.texte);
        EXPECT_EQ(j.ouvertures, 2);
        EXPECT_EQ(j.commandes, std::vector<std::string>{"demande:clic 1 2"});
        ASSERT_EQ(t.fin().statut, 0);
    }
}

TEST_F(Actes, NouveauCodePendantUneSession) {
    Journal j;
    j.etats = {Service::Etat::prete};
    auto t = technicien(j);
    // A code nobody used yet is given up on the service for the next one.
    ASSERT_EQ(t.code().statut, 0);
    ASSERT_EQ(t.code().statut, 0);
    EXPECT_EQ(j.fermees, std::vector<std::string>{"s0"});
    // An open session is never dropped by a new code.
    ASSERT_EQ(t.attendre(0, false).statut, 0);
    const Issue i = t.code();
    EXPECT_EQ(i.statut, 1);
    EXPECT_NE(i.texte.find("vimba-technicien fin"), std::string::npos);
    EXPECT_EQ(j.codesCrees, 2);
    EXPECT_EQ(lireSession(configuration_)->id, "s1");
    // Without a session, a request says so and nothing is sent.
    ASSERT_EQ(t.fin().statut, 0);
    EXPECT_EQ(t.demande("etat").statut, 2);
    EXPECT_TRUE(j.commandes.empty());
}
