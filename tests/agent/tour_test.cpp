// The poll loop on a real temporary folder: order, skipping, deletion, atomic replies,
// hostile entries, the marks of a running or abandoned request, and stopping.
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
    const std::string etat = "ok ecran=1 agir=1 devant=?";

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
    for (const char* n : {"demande-9", "demande-5.tmp", "Demande-1", "xdemande-1"}) poser(n, "etat");
    poser("demande-10", "clic 1 2");
    poser("demande-A", "bouger 1 2");
    poser("demande-", "vue");
    const std::pair<std::string, std::string> suite[] = {
        {"reponse-", "ok vue double"}, {"reponse-10", "ok clic 1 2"}, {"reponse-9", etat}, {"reponse-A", "ok bouger"}};
    std::set<std::string> attendu = {"demande-5.tmp", "Demande-1", "xdemande-1"};
    for (const auto& [nom, texte] : suite) {
        agent->tour();
        EXPECT_EQ(lire(nom), texte);
        attendu.insert(nom);
        std::set<std::string> reste = contenu();
        std::erase_if(reste, [](const std::string& n) { return n.starts_with("demande-") && !n.ends_with(".tmp"); });
        EXPECT_EQ(reste, attendu) << "one request per tick, marks gone";
    }
    fs::rename(dossier / "demande-5.tmp", dossier / "demande-5");
    agent->tour();
    EXPECT_EQ(lire("reponse-5"), etat);
    EXPECT_TRUE(agent->agitDepuis(4));
    EXPECT_FALSE(agent->agitDepuis(0));
}

// Each entry gets exactly one reply or none, and none blocks the queue.
TEST_F(Tour, OddOrHostileEntriesNeverBlockTheQueue) {
    poser("demande-0", std::string("\xff\xfe bad", 6));  // not UTF-8: gone, no reply
    agent->tour();
    EXPECT_TRUE(contenu().empty());
    EXPECT_FALSE(agent->agitDepuis(1e9)) << "an unreadable request is not activity";

    fs::create_directory(dossier / "demande-2");
    ASSERT_EQ(::mkfifo((dossier / "demande-3").c_str(), 0600), 0);
    fs::create_symlink("/etc/hostname", dossier / "demande-4");
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un adr{};
    adr.sun_family = AF_UNIX;
    std::snprintf(adr.sun_path, sizeof adr.sun_path, "%s", (dossier / "demande-6").c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&adr), sizeof adr), 0);
    poser("a-moi", "etat");
    fs::create_hard_link(dossier / "a-moi", dossier / "demande-7");  // another file of ours in disguise
    const std::pair<std::string, const char*> textes[] = {
        {std::string("clic 1 2\0junk", 13), "erreur coordonnées"}, {"\n\n\n\n", "erreur demande vide"}, {"", "erreur demande vide"},
        {std::string(Agent::tailleMaximum, 'a'), "erreur verbe inconnu "}, {std::string(Agent::tailleMaximum + 1, 'a'), "erreur demande trop longue"},
        {"", "erreur demande trop longue"}};  // a sparse file that claims a terabyte: nothing read or reserved
    for (std::size_t i = 0; i < std::size(textes); ++i) poser("demande-9" + std::to_string(i), textes[i].first);
    fs::resize_file(dossier / "demande-95", std::uintmax_t{1} << 40);
    for (int i = 0; i < 10; ++i) agent->tour();  // must not block on the FIFO
    std::set<std::string> attendu = {"a-moi"};
    for (std::size_t i = 0; i < std::size(textes); ++i) {
        const std::string nom = "reponse-9" + std::to_string(i);
        EXPECT_TRUE(lire(nom).starts_with(textes[i].second)) << nom << ": " << lire(nom).substr(0, 40);
        attendu.insert(nom);
    }
    EXPECT_EQ(contenu(), attendu);
    EXPECT_EQ(lire("a-moi"), "etat");
    ::close(s);
}

// Served or not, judged by whether a planted request gets its reply; an untrusted folder
// is not touched at all.
TEST_F(Tour, ServesOnlyAFolderAsTheSessionMakesIt) {
    // A file in the folder's place is left alone, and the folder is served once it comes.
    fs::remove(dossier);
    std::ofstream(dossier.string()) << "pas un dossier";
    agent->tour();
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(dossier).rdbuf()), {}), "pas un dossier");
    fs::remove(dossier);
    fs::create_directory(dossier);
    ::chmod(dossier.c_str(), 0700);
    poser("demande-2", "etat");
    agent->tour();
    EXPECT_EQ(lire("reponse-2"), etat);

    struct Cas {
        const char* quoi;
        mode_t mode;
        bool lien;
        uid_t proprietaire;  // -1: ours
        bool servi;
    };
    const uid_t nous = static_cast<uid_t>(-1);
    const Cas cas[] = {
        {"private to us", 0700, false, nous, true},
        {"others may enter", 0701, false, nous, false},
        {"others may read", 0704, false, nous, false},
        {"shared with our own group, not the technician's", 02750, false, nous, false},
        {"a link to a private folder", 0700, true, nous, false},
        {"owned by another account", 0700, false, 54321, false},
    };
    int n = 0;
    for (const auto& c : cas) {
        if (c.proprietaire != nous && ::geteuid() != 0) continue;
        SCOPED_TRACE(c.quoi);
        const fs::path vrai = dossier / std::to_string(++n), servi = c.lien ? dossier / "lien" : vrai;
        fs::create_directory(vrai);
        ASSERT_EQ(::chmod(vrai.c_str(), c.mode), 0);
        ASSERT_EQ(::chown(vrai.c_str(), c.proprietaire, static_cast<gid_t>(-1)), 0);
        if (c.lien) fs::create_directory_symlink(vrai, servi);
        std::ofstream(vrai / "demande-1") << "etat";
        Agent a(servicesDoubles(j), servi.string());
        a.tour();
        EXPECT_EQ(fs::exists(vrai / "reponse-1"), c.servi);
        a.stopper();
        EXPECT_EQ(fs::exists(vrai / "demande-1"), !c.servi) << "stopper leaves an untrusted folder alone";
    }
}

TEST_F(Tour, MarksARunningRequestAndDropsTheReplyOfAnAbandonedOne) {
    bool marque = false;
    j.boucle = [&] { marque = fs::exists(dossier / "en-cours"); };
    poser("demande-1", "tape\nab\tcd");
    agent->tour();
    EXPECT_TRUE(marque) << "en-cours while it runs";
    EXPECT_EQ(contenu(), std::set<std::string>{"reponse-1"}) << "and gone after";
    // The client gives up while it runs (the mark appears during the request).
    j.boucle = [&] { poser("abandon-2", ""); };
    poser("demande-2", "tape\nab\tcd");
    agent->tour();
    EXPECT_EQ(contenu(), std::set<std::string>{"reponse-1"});
}

// Masking end to end is checked through the channel (tests/stream/masque_test.sh); here,
// what it cannot see: nothing judged without a stream, the same window judged again.
TEST_F(Tour, ARunningStreamIsJudgedAgainEveryTenthOfASecond) {
    j.port = 0;
    j.devant = "Kraken";
    agent->tour();
    EXPECT_FALSE(j.masque) << "no stream, nothing judged";
    j.port = 4242;
    for (const auto& [devant, masque] : {std::pair{"Kraken", true}, {"Terminal", false}}) {
        j.devant = devant;
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
        agent->tour();
        EXPECT_EQ(j.masque, masque) << devant;
    }
}

TEST_F(Tour, StopperClearsWhatItOwnsAndStopsPolling) {
    for (const char* n : {"demande-1.tmp", "reponse-3", "vue.jpg", "vue.txt", "brut.png", "flux.port", "autre", "en-cours", "abandon-4"})
        poser(n, "x");
    agent->demarrer();
    agent->demarrer();
    poser("demande-2", "etat");
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!fs::exists(dossier / "reponse-2") && std::chrono::steady_clock::now() < limite) g_main_context_iteration(nullptr, TRUE);
    EXPECT_EQ(lire("reponse-2"), etat);

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
