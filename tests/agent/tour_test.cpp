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
    poser("demande-3", std::string(Agent::tailleMaximum, 'a'));
    poser("demande-4", "");
    poser("demande-5", std::string(Agent::tailleMaximum + 1, 'a'));
    // A sparse file that claims a terabyte: refused by its size, nothing read or reserved.
    poser("demande-6", "");
    fs::resize_file(dossier / "demande-6", std::uintmax_t{1} << 40);
    for (int i = 0; i < 6; ++i) agent->tour();
    EXPECT_EQ(lire("reponse-1"), "erreur coordonnées");
    EXPECT_EQ(lire("reponse-2"), "erreur demande vide");
    EXPECT_EQ(lire("reponse-3").substr(0, 21), "erreur verbe inconnu ");
    EXPECT_EQ(lire("reponse-4"), "erreur demande vide");
    EXPECT_EQ(lire("reponse-5"), "erreur demande trop longue");
    EXPECT_EQ(lire("reponse-6"), "erreur demande trop longue");
    EXPECT_FALSE(fs::exists(dossier / "demande-6"));
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
    EXPECT_EQ(fs::status(dossier / "reponse-1").permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// Served or not, judged by whether a planted request gets its reply; an untrusted folder
// is not touched at all.
TEST_F(Tour, ServesOnlyAFolderAsTheSessionMakesIt) {
    const bool root = ::geteuid() == 0;
    const fs::path vrai = dossier.string() + "-vrai";
    fs::create_directory(vrai);
    struct Cas {
        const char* quoi;
        mode_t mode;
        bool lien;
        uid_t proprietaire;  // -1: ours
        bool servi;
    };
    const Cas cas[] = {
        {"private to us", 0700, false, static_cast<uid_t>(-1), true},
        {"others may enter", 0701, false, static_cast<uid_t>(-1), false},
        {"others may read", 0704, false, static_cast<uid_t>(-1), false},
        {"shared with our own group, not the technician's", 0770, false, static_cast<uid_t>(-1), false},
        {"setgid, still our own group", 02750, false, static_cast<uid_t>(-1), false},
        {"a link to a private folder", 0700, true, static_cast<uid_t>(-1), false},
        {"owned by another account", 0700, false, 54321, false},
    };
    for (const auto& c : cas) {
        if (c.proprietaire != static_cast<uid_t>(-1) && !root) continue;
        SCOPED_TRACE(c.quoi);
        const fs::path cible = c.lien ? vrai : dossier;
        ASSERT_EQ(::chmod(cible.c_str(), c.mode), 0);
        ASSERT_EQ(::chown(cible.c_str(), c.proprietaire, static_cast<gid_t>(-1)), 0);
        if (c.lien) {
            fs::remove_all(dossier);
            fs::create_directory_symlink(vrai, dossier);
        }
        poser("demande-1", "etat");
        agent->tour();
        EXPECT_EQ(fs::exists(cible / "reponse-1"), c.servi);
        EXPECT_EQ(fs::exists(cible / "demande-1"), !c.servi);
        agent->stopper();
        EXPECT_EQ(fs::exists(cible / "demande-1"), !c.servi) << "stopper leaves an untrusted folder alone";
        fs::remove_all(cible);
        fs::remove(dossier);
        fs::create_directory(dossier);
        fs::create_directory(vrai);
        ::chmod(dossier.c_str(), 0700);
    }
    fs::remove_all(vrai);
}

TEST_F(Tour, RequestsFromOutsideTheSessionAreDroppedUnanswered) {
    poser("a-moi", "etat");
    fs::create_hard_link(dossier / "a-moi", dossier / "demande-1");  // another file of ours in disguise
    if (::geteuid() == 0) {
        poser("demande-2", "etat");
        ASSERT_EQ(::chown((dossier / "demande-2").c_str(), 54321, 54321), 0);  // an account outside the session
    }
    poser("demande-3", "etat");
    agent->tour();
    EXPECT_EQ(contenu(), (std::set<std::string>{"a-moi", "reponse-3"}));
    EXPECT_EQ(lire("a-moi"), "etat");
}

TEST_F(Tour, MissingFolderOrFileInsteadOfFolderDoesNothing) {
    fs::remove_all(dossier);
    agent->tour();
    std::ofstream(dossier.string()) << "pas un dossier";
    agent->tour();
    fs::remove(dossier);
    fs::create_directory(dossier);
}

TEST_F(Tour, ARunningStreamIsMaskedWhileTheFrontIsSensitive) {
    j.port = 0;
    j.devant = "Kraken";
    agent->tour();
    EXPECT_FALSE(j.masque) << "no stream, nothing to mask";
    j.port = 4242;
    const std::pair<const char*, bool> etapes[] = {{"Kraken", true}, {"Terminal", false}, {"\uFF2Braken", true}};
    for (const auto& [devant, masque] : etapes) {
        j.devant = devant;
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
        agent->tour();
        EXPECT_EQ(j.masque, masque) << devant;
    }
    // Each verdict names the front window it was given for; another window is judged at once.
    j.cle = 77;
    agent->tour();
    EXPECT_EQ(j.cleJugee, 77u);
    // Stopping is served even then; anything else is refused and keeps the mask on.
    EXPECT_EQ(agent->executer("flux-stop"), "ok flux arrêté");
    EXPECT_EQ(agent->executer("flux 800"), "refus application sensible au premier plan (\uFF2Braken)");
    EXPECT_TRUE(j.masque);
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
