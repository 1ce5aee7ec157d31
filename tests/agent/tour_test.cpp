// The poll loop on a real temporary folder: order, skipping, deletion, atomic replies,
// hostile entries, and stopping.
#include <gtest/gtest.h>
#include <glib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "agent/agent.h"
#include "doubles.h"

namespace fs = std::filesystem;

namespace vimba::essais {
namespace {

class Tour : public ::testing::Test {
protected:
    fs::path dossier;
    Journal j;
    std::unique_ptr<Agent> agent;

    void SetUp() override {
        char modele[] = "/tmp/essai-vimba-XXXXXX";
        dossier = ::mkdtemp(modele);
        agent = std::make_unique<Agent>(servicesDoubles(j), dossier.string());
    }
    void TearDown() override {
        agent.reset();
        fs::remove_all(dossier);
    }
    void poser(const std::string& nom, const std::string& texte) { std::ofstream(dossier / nom, std::ios::binary) << texte; }
    std::string lire(const std::string& nom) {
        std::ifstream f(dossier / nom, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), {}};
    }
    std::set<std::string> contenu() {
        std::set<std::string> noms;
        for (const auto& e : fs::directory_iterator(dossier)) noms.insert(e.path().filename().string());
        return noms;
    }
};

TEST_F(Tour, TakesOneRequestPerTickInByteOrder) {
    poser("demande-9", "etat");
    poser("demande-10", "clic 1 2");
    poser("demande-A", "bouger 1 2");
    poser("demande-a", "sauter");
    poser("demande-5.tmp", "etat");
    poser("Demande-1", "etat");
    poser("xdemande-1", "etat");
    poser("demande-", "vue");

    agent->tour();
    EXPECT_EQ(contenu().count("reponse-"), 1u) << "the bare prefix sorts first";
    EXPECT_EQ(lire("reponse-"), "ok vue double");
    const std::vector<std::pair<std::string, std::string>> suite = {
        {"reponse-10", "ok clic 1 2"}, {"reponse-9", "ok ecran=1 agir=1 devant=?"}, {"reponse-A", "ok bouger"},
        {"reponse-a", "erreur verbe inconnu sauter"}};
    for (const auto& [nom, texte] : suite) {
        agent->tour();
        EXPECT_EQ(lire(nom), texte);
    }
    agent->tour();
    const std::set<std::string> reste = {"reponse-", "reponse-10", "reponse-9", "reponse-A", "reponse-a",
                                         "demande-5.tmp", "Demande-1", "xdemande-1"};
    EXPECT_EQ(contenu(), reste);

    fs::rename(dossier / "demande-5.tmp", dossier / "demande-5");
    agent->tour();
    EXPECT_EQ(lire("reponse-5"), "ok ecran=1 agir=1 devant=?");
    EXPECT_TRUE(agent->agitDepuis(4));
    EXPECT_FALSE(agent->agitDepuis(0));
}

TEST_F(Tour, UnreadableOrHostileEntriesNeverBlockTheQueue) {
    poser("demande-1", std::string("\xff\xfe bad", 6));   // not UTF-8: gone, no reply
    agent->tour();
    EXPECT_TRUE(contenu().empty());
    EXPECT_FALSE(agent->agitDepuis(1e9)) << "an unreadable request is not activity";

    fs::create_directory(dossier / "demande-2");
    ASSERT_EQ(::mkfifo((dossier / "demande-3").c_str(), 0600), 0);
    fs::create_symlink("/etc/hostname", dossier / "demande-4");
    fs::create_symlink(dossier / "nulle-part", dossier / "demande-5");
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un adr{};
    adr.sun_family = AF_UNIX;
    std::snprintf(adr.sun_path, sizeof adr.sun_path, "%s", (dossier / "demande-6").c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&adr), sizeof adr), 0);
    poser("demande-7", "etat");

    agent->tour();  // must not block on the FIFO
    EXPECT_EQ(contenu(), std::set<std::string>{"reponse-7"});
    ::close(s);
}

TEST_F(Tour, OddTextsGetExactlyOneReplyOrNone) {
    poser("demande-1", std::string("clic 1 2\0junk", 13));
    poser("demande-2", "\n\n\n\n");
    poser("demande-3", std::string(50 * 1024 * 1024, 'a'));
    poser("demande-4", "");
    for (int i = 0; i < 4; ++i) agent->tour();
    EXPECT_EQ(lire("reponse-1"), "erreur coordonnées");
    EXPECT_EQ(lire("reponse-2"), "erreur demande vide");
    EXPECT_EQ(lire("reponse-3").substr(0, 21), "erreur verbe inconnu ");
    EXPECT_EQ(lire("reponse-4"), "erreur demande vide");
}

TEST_F(Tour, ReplyReplacesAPlantedLinkInsteadOfWritingThroughIt) {
    const fs::path victime = dossier / "victime";
    poser("victime", "intact");
    fs::create_symlink(victime, dossier / "reponse-1");
    poser("demande-1", "etat");
    agent->tour();
    EXPECT_EQ(lire("victime"), "intact");
    EXPECT_FALSE(fs::is_symlink(dossier / "reponse-1"));
    EXPECT_EQ(lire("reponse-1"), "ok ecran=1 agir=1 devant=?");
    EXPECT_EQ(fs::status(dossier / "reponse-1").permissions() & fs::perms::others_read, fs::perms::others_read);
}

TEST_F(Tour, MissingFolderOrFileInsteadOfFolderDoesNothing) {
    fs::remove_all(dossier);
    agent->tour();
    std::ofstream(dossier.string()) << "pas un dossier";
    agent->tour();
    fs::remove(dossier);
    fs::create_directory(dossier);
}

TEST_F(Tour, StopperClearsWhatItOwnsAndStopsPolling) {
    for (const char* n : {"demande-1.tmp", "reponse-3", "vue.jpg", "vue.txt", "brut.png", "flux.port", "autre"}) poser(n, "x");
    agent->demarrer();
    agent->demarrer();
    poser("demande-2", "etat");
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!fs::exists(dossier / "reponse-2") && std::chrono::steady_clock::now() < limite)
        g_main_context_iteration(nullptr, TRUE);
    EXPECT_EQ(lire("reponse-2"), "ok ecran=1 agir=1 devant=?");

    j.appels.clear();
    agent->stopper();
    EXPECT_EQ(contenu(), (std::set<std::string>{"brut.png", "flux.port", "autre"}));
    EXPECT_EQ(j.appels, std::vector<std::string>{"arreter"});
    viderPostes(j);
    EXPECT_EQ(j.appels.back(), "effacer") << "the erase is posted, not run inline";

    poser("demande-3", "etat");
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }
    EXPECT_TRUE(fs::exists(dossier / "demande-3")) << "no polling after stopper";
    EXPECT_FALSE(agent->enMarche());
}

}  // namespace
}  // namespace vimba::essais
