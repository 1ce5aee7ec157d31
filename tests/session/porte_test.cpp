// vimba-porte run as sshd runs it: the command in SSH_ORIGINAL_COMMAND, the request on its
// standard input, a private folder in place of /tmp/vimba-sos.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

struct Issue {
    int code = -1;
    std::string sortie, erreur;
};

void ecrire(const fs::path& f, const std::string& contenu) { std::ofstream(f, std::ios::binary) << contenu; }
std::string lire(const fs::path& f) {
    std::ifstream in(f, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Porte : public ::testing::Test {
protected:
    void SetUp() override {
        char modele[] = "/tmp/essai-porte-XXXXXX";
        ASSERT_NE(::mkdtemp(modele), nullptr);
        base = modele;
        dossier = base / "sos";
        fs::create_directory(dossier);
    }
    void TearDown() override { fs::remove_all(base); }
    // The gate on DANS with ENTREE as its input; its streams go to files beside the folder.
    Issue porte(const std::string& commande, const std::string& entree = {}, const fs::path& dans = {}) {
        const std::string e = (base / "e").string();
        ecrire(e, entree);
        ::setenv("SSH_ORIGINAL_COMMAND", commande.c_str(), 1);
        const int s = std::system((std::string(VIMBA_PORTE) + " --dossier '" + (dans.empty() ? dossier : dans).string() +
                                   "' --attente 300 <" + e + " >" + e + ".1 2>" + e + ".2").c_str());
        return {WIFEXITED(s) ? WEXITSTATUS(s) : -1, lire(e + ".1"), lire(e + ".2")};
    }
    fs::path base, dossier;
};

// Only the regular files of the folder are read; anything else is refused, each its own way.
TEST_F(Porte, CommandesEtLectures) {
    const std::string octets("\xff\xd8\0jpeg\n", 8);
    ecrire(dossier / "vue.jpg", octets);
    ecrire(base / "secret", "secret");
    fs::create_symlink(base / "secret", dossier / "vue.txt");
    ::mkfifo((dossier / "brut.png").c_str(), 0600);
    struct Cas {
        const char* commande;
        int code;
        std::string sortie;
    } cas[] = {
        {"lire vue.jpg", 0, octets}, {"lire vue.txt", 1, ""},  // a link, even to a readable file
        {"lire brut.png", 1, ""},    // a FIFO: refused without blocking
        {"lire flux.port", 1, ""},   // absent
        {"", 3, ""}, {"sh", 3, ""}, {"demande etat", 3, ""}, {"DEMANDE", 3, ""}, {"lire", 3, ""}, {"lire /etc/passwd", 3, ""},
        {"lire ../sos/vue.jpg", 3, ""}, {"lire vue.jpg vue.txt", 3, ""}, {"lire demande-1", 3, ""}, {"flux 4242", 3, ""},
        {"scp -t /tmp", 3, ""}, {"demande;id", 3, ""},
    };
    for (const auto& c : cas) {
        const Issue r = porte(c.commande);
        EXPECT_EQ(r.code, c.code) << c.commande << " : " << r.erreur;
        EXPECT_EQ(r.sortie, c.sortie) << c.commande;
        EXPECT_EQ(r.erreur.find("commande refusée") != std::string::npos, c.code == 3) << r.erreur;
    }
    // The folder itself as a link is no folder.
    fs::create_directory_symlink(dossier, base / "lien");
    EXPECT_EQ(porte("lire vue.jpg", "", base / "lien").code, 1);
}

// Without an agent, or too long: nothing sent, the request taken back. (Requests answered
// by the real agent are session_test.sh's.)
TEST_F(Porte, DemandeSansReponse) {
    Issue r = porte("demande", "etat");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(fs::is_empty(dossier));
    r = porte("demande", std::string((1 << 20) + 1, 'a'));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.erreur.find("trop longue"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(dossier));
    EXPECT_EQ(porte("demande", "etat", base / "absent").code, 2);
}

TEST_F(Porte, FluxRelaieDansLesDeuxSensAvecDemiFermeture) {
    const int ecoute = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t l = sizeof a;
    ASSERT_EQ(::bind(ecoute, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(ecoute, 1), 0);
    ::getsockname(ecoute, reinterpret_cast<sockaddr*>(&a), &l);
    ecrire(dossier / "flux.port", std::to_string(ntohs(a.sin_port)) + "\n");

    // The stream side reads the technician's bytes to their end, then answers and closes.
    std::string recu;
    std::thread serveur([&] {
        const int c = ::accept(ecoute, nullptr, nullptr);
        char t[4096];
        for (ssize_t n; (n = ::read(c, t, sizeof t)) > 0;) recu.append(t, static_cast<std::size_t>(n));
        const std::string reponse(300000, 'f');
        for (std::size_t fait = 0; fait < reponse.size();) fait += static_cast<std::size_t>(::write(c, reponse.data() + fait, reponse.size() - fait));
        ::close(c);
    });
    const Issue r = porte("flux", "H 1280 60 tuiles\n");
    serveur.join();
    ::close(ecoute);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(recu, "H 1280 60 tuiles\n");
    EXPECT_EQ(r.sortie, std::string(300000, 'f'));

    // No listener any more, or no port file: no stream runs.
    EXPECT_EQ(porte("flux").code, 1);
    fs::remove(dossier / "flux.port");
    EXPECT_EQ(porte("flux").code, 1);
}

}  // namespace
