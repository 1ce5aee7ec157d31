// vimba-porte run as sshd runs it: the command in SSH_ORIGINAL_COMMAND, pipes on its
// standard streams, a private folder in place of /tmp/vimba-sos.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

// Runs the gate with COMMANDE and ENTREE on its standard input, both pipes drained at once.
Issue porte(const std::string& dossier, const std::string& commande, const std::string& entree = {}) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::setenv("SSH_ORIGINAL_COMMAND", commande.c_str(), 1);
        ::execl(VIMBA_PORTE, "vimba-porte", "--dossier", dossier.c_str(), "--attente", "300", nullptr);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    std::thread ecrivain([fd = in[1], entree] {
        ::signal(SIGPIPE, SIG_IGN);
        std::size_t fait = 0;
        while (fait < entree.size()) {
            const ssize_t n = ::write(fd, entree.data() + fait, entree.size() - fait);
            if (n <= 0) break;
            fait += static_cast<std::size_t>(n);
        }
        ::close(fd);
    });
    Issue r;
    pollfd p[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int ouverts = 2;
    while (ouverts > 0 && ::poll(p, 2, 20000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (p[i].fd < 0 || !p[i].revents) continue;
            char tampon[65536];
            const ssize_t n = ::read(p[i].fd, tampon, sizeof tampon);
            if (n <= 0) {
                ::close(p[i].fd);
                p[i].fd = -1;
                --ouverts;
            } else {
                (i == 0 ? r.sortie : r.erreur).append(tampon, static_cast<std::size_t>(n));
            }
        }
    }
    ecrivain.join();
    int statut = 0;
    ::waitpid(pid, &statut, 0);
    r.code = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
    return r;
}

void ecrire(const fs::path& f, const std::string& contenu) { std::ofstream(f, std::ios::binary) << contenu; }

class Porte : public ::testing::Test {
protected:
    void SetUp() override {
        char modele[] = "/tmp/essai-porte-XXXXXX";
        ASSERT_NE(::mkdtemp(modele), nullptr);
        base = modele;
        dossier = base / "sos";
        fs::create_directory(dossier);
    }
    void TearDown() override {
        arret = true;
        if (repondeur.joinable()) repondeur.join();
        fs::remove_all(base);
    }
    // Answers every request like the agent: "<prefix><text>", written then renamed.
    void repondre(std::string prefixe) {
        repondeur = std::thread([this, prefixe] {
            while (!arret) {
                for (const auto& e : fs::directory_iterator(dossier)) {
                    const std::string nom = e.path().filename();
                    if (nom.rfind("demande-", 0) != 0 || nom.ends_with(".tmp")) continue;
                    std::ifstream f(e.path(), std::ios::binary);
                    const std::string texte((std::istreambuf_iterator<char>(f)), {});
                    fs::remove(e.path());
                    ecrire(dossier / ".r", prefixe + texte);
                    fs::rename(dossier / ".r", dossier / ("reponse-" + nom.substr(8)));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    fs::path base, dossier;
    std::thread repondeur;
    std::atomic<bool> arret{false};
};

TEST_F(Porte, CommandesRefusees) {
    for (const char* c : {"", "sh", "demande etat", "DEMANDE", "lire", "lire /etc/passwd", "lire ../sos/vue.jpg",
                          "lire vue.jpg vue.txt", "lire demande-1", "flux 4242", "scp -t /tmp", "demande;id"}) {
        SCOPED_TRACE(c);
        const Issue r = porte(dossier, c);
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.sortie, "");
        EXPECT_NE(r.erreur.find("commande refusée"), std::string::npos) << r.erreur;
    }
}

TEST_F(Porte, LireSeulementLesFichiersOrdinairesDuDossier) {
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
        {"lire vue.jpg", 0, octets},
        {"lire vue.txt", 1, ""},     // a link, even to a readable file
        {"lire brut.png", 1, ""},    // a FIFO: refused without blocking
        {"lire flux.port", 1, ""},   // absent
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.commande);
        const Issue r = porte(dossier, c.commande);
        EXPECT_EQ(r.code, c.code) << r.erreur;
        EXPECT_EQ(r.sortie, c.sortie);
    }
    // The folder itself as a link is no folder.
    fs::create_directory_symlink(dossier, base / "lien");
    EXPECT_EQ(porte(base / "lien", "lire vue.jpg").code, 1);
}

TEST_F(Porte, DemandeAtteintLAgentEtRendSaReponse) {
    repondre("ok ");
    Issue r = porte(dossier, "demande", "tape\nBonjour « Été »\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.sortie, "ok tape\nBonjour « Été »\n");
    arret = true;
    repondeur.join();
    arret = false;
    repondre("refus ");
    r = porte(dossier, "demande", "clic 1 2");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.sortie, "refus clic 1 2");
    // Nothing left behind: request and reply both gone.
    EXPECT_TRUE(fs::is_empty(dossier));
}

TEST_F(Porte, DemandeSansAgentOuTropLongue) {
    Issue r = porte(dossier, "demande", "etat");
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(fs::is_empty(dossier)) << "the request is taken back";
    r = porte(dossier, "demande", std::string((1 << 20) + 1, 'a'));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.erreur.find("trop longue"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(dossier));
    EXPECT_EQ(porte(base / "absent", "demande", "etat").code, 2);
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
        ssize_t n;
        while ((n = ::read(c, t, sizeof t)) > 0) recu.append(t, static_cast<std::size_t>(n));
        const std::string reponse(300000, 'f');
        for (std::size_t fait = 0; fait < reponse.size();) fait += static_cast<std::size_t>(::write(c, reponse.data() + fait, reponse.size() - fait));
        ::close(c);
    });
    const Issue r = porte(dossier, "flux", "H 1280 60 tuiles\n");
    serveur.join();
    ::close(ecoute);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(recu, "H 1280 60 tuiles\n");
    EXPECT_EQ(r.sortie, std::string(300000, 'f'));

    // No listener any more, or no port file: no stream runs.
    EXPECT_EQ(porte(dossier, "flux").code, 1);
    fs::remove(dossier / "flux.port");
    EXPECT_EQ(porte(dossier, "flux").code, 1);
}

}  // namespace
