// The technician's configuration: what the environment and service.conf give, and what is
// accepted from the service before it goes into an ssh_config. The folder's modes and the
// saved session are tests/session/session_test.sh's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/technicien/configuration.h"

using namespace vimba::technicien;

namespace {

class Dossier : public ::testing::Test {
protected:
    void SetUp() override {
        char modele[] = "/tmp/technicien-conf-XXXXXX";
        racine_ = ::mkdtemp(modele);
        ::setenv("XDG_CONFIG_HOME", racine_.c_str(), 1);
        for (const char* v : {"VIMBA_SERVICE", "VIMBA_JETON", "VIMBA_NOM"}) ::unsetenv(v);
    }
    void TearDown() override { std::filesystem::remove_all(racine_); }
    std::string racine_;
};

}  // namespace

TEST_F(Dossier, EnvironnementAvantFichier) {
    std::filesystem::create_directories(racine_ + "/vimba-technicien");
    std::ofstream(racine_ + "/vimba-technicien/service.conf") << "# service\n adresse = https://depannage.exemple.fr/ \njeton=fichier\nnom=Ilvo\n";
    ::setenv("VIMBA_JETON", "environnement", 1);
    std::string erreur;
    const auto c = lireConfiguration(erreur);
    ASSERT_TRUE(c) << erreur;
    EXPECT_EQ(c->adresse, "https://depannage.exemple.fr");
    EXPECT_EQ(c->jeton, "environnement");
    EXPECT_EQ(c->nom, "Ilvo");

    // The token only travels in clear to this machine.
    const std::vector<std::pair<std::string, bool>> adresses = {
        {"https://depannage.exemple.fr", true}, {"http://127.0.0.1:8080", true}, {"http://[::1]:80", true},
        {"http://localhost", true},            {"http://depannage.exemple.fr", false}, {"http://127.0.0.1.exemple.fr", false},
        {"http://127.1.2.3:8080/", true},     {"http://[::1].exemple.fr", false},
        {"depannage.exemple.fr", false},       {"", false},
    };
    for (const auto& [adresse, bonne] : adresses) {
        Configuration d = *c;
        d.adresse = adresse;
        EXPECT_EQ(verifierService(d, erreur), bonne) << adresse;
    }
    Configuration sansJeton = *c;
    sansJeton.jeton.clear();
    EXPECT_FALSE(verifierService(sansJeton, erreur));
}

TEST(DonneesDuService, RienQuiChangeLaConfigurationSsh) {
    const std::string cle = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIEbbDLKB8/rdzD+x= commentaire";
    EXPECT_TRUE(hoteValide("relais.exemple.fr"));
    EXPECT_TRUE(hoteValide("::1"));
    EXPECT_TRUE(compteValide("vimba-relais"));
    EXPECT_TRUE(cleValide(cle));
    for (const std::string h : {"", "relais\n  ProxyCommand sh", "-oProxyCommand=sh", "relais exemple", "relais%h"})
        EXPECT_FALSE(hoteValide(h)) << h;
    for (const std::string c : {"", "vimba relais", "-l", "a\nb"}) EXPECT_FALSE(compteValide(c)) << c;
    for (const std::string& k : std::vector<std::string>{"", "ssh-ed25519", cle + "\nProxyCommand sh", "ssh-ed25519 AAAA\"", "ssh-ed25519 AA;A"})
        EXPECT_FALSE(cleValide(k)) << k;
}
