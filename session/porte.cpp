// vimba-porte: the forced command of the session's private sshd. It reads the technician's
// command from SSH_ORIGINAL_COMMAND and does one of three fixed things with the request
// folder; no shell ever sees the technician's words.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "agent/descripteur.h"
#include "tools/canal.h"

namespace {

constexpr std::size_t tailleMaxDemande = 1 << 20;
// Files the technician may fetch, by their exact names.
constexpr std::array fichiersLisibles{"vue.jpg", "vue.txt", "brut.png", "flux.port"};

using vimba::Fd;

void dire(const std::string& texte) { std::fprintf(stderr, "vimba-porte : %s\n", texte.c_str()); }

bool ecrireTout(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

ssize_t lire(int fd, char* p, std::size_t n) {
    for (;;) {
        const ssize_t k = ::read(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        return k;
    }
}

std::vector<std::string> mots(const std::string& ligne) {
    std::vector<std::string> m;
    std::string courant;
    for (const char c : ligne) {
        if (c == ' ' || c == '\t') {
            if (!courant.empty()) m.push_back(std::move(courant));
            courant.clear();
        } else {
            courant += c;
        }
    }
    if (!courant.empty()) m.push_back(std::move(courant));
    return m;
}

// A file of the folder, opened without following any link and only when it is a regular file.
enum class Ouverture { Ouvert, Absent, Refuse };
Ouverture ouvrirFichier(const std::string& dossier, const std::string& nom, int& fd) {
    Fd d(::open(dossier.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (d.fd < 0) return errno == ENOENT ? Ouverture::Absent : Ouverture::Refuse;
    fd = ::openat(d.fd, nom.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Ouverture::Absent : Ouverture::Refuse;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fd = -1;
        return Ouverture::Refuse;
    }
    return Ouverture::Ouvert;
}

int demande(const std::string& dossier, std::chrono::milliseconds attentePrise) {
    std::string texte;
    char tampon[65536];
    for (;;) {
        const ssize_t n = lire(STDIN_FILENO, tampon, sizeof tampon);
        if (n < 0) {
            dire("demande illisible");
            return 2;
        }
        if (n == 0) break;
        texte.append(tampon, static_cast<std::size_t>(n));
        if (texte.size() > tailleMaxDemande) {
            dire("demande trop longue (1 Mio au plus) : rien n’a été envoyé");
            return 2;
        }
    }
    // A request may run long once the agent has it (typing a long text); an agent that
    // never takes it is reported after 10 s.
    const auto r = vimba::canal::demander(dossier, texte, {attentePrise, std::chrono::seconds(180), true});
    if (r.etat == vimba::canal::Resultat::Etat::Repondue)
        ecrireTout(STDOUT_FILENO, r.texte.data(), r.texte.size());
    else
        dire(r.raison);
    return vimba::canal::codeDeSortie(r);
}

int lireFichier(const std::string& dossier, const std::string& nom) {
    int fd = -1;
    switch (ouvrirFichier(dossier, nom, fd)) {
        case Ouverture::Absent:
            dire(nom + " absent");
            return 1;
        case Ouverture::Refuse:
            dire(nom + " n’est pas un fichier ordinaire du dossier");
            return 1;
        case Ouverture::Ouvert:
            break;
    }
    Fd f(fd);
    char tampon[65536];
    for (;;) {
        const ssize_t n = lire(f.fd, tampon, sizeof tampon);
        if (n == 0) return 0;
        if (n < 0 || !ecrireTout(STDOUT_FILENO, tampon, static_cast<std::size_t>(n))) {
            dire(nom + " : lecture interrompue");
            return 1;
        }
    }
}

int connecter(int port) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(port));
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&v4), sizeof v4) == 0) return s;
    if (s >= 0) ::close(s);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(port));
    v6.sin6_addr = in6addr_loopback;
    s = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&v6), sizeof v6) == 0) return s;
    if (s >= 0) ::close(s);
    return -1;
}

int flux(const std::string& dossier) {
    int fd = -1;
    if (ouvrirFichier(dossier, "flux.port", fd) != Ouverture::Ouvert) {
        dire("aucun flux en cours");
        return 1;
    }
    std::string texte;
    {
        Fd f(fd);
        char tampon[32];
        const ssize_t n = lire(f.fd, tampon, sizeof tampon);
        if (n > 0) texte.assign(tampon, static_cast<std::size_t>(n));
    }
    while (!texte.empty() && (texte.back() == '\n' || texte.back() == ' ')) texte.pop_back();
    int port = 0;
    for (const char c : texte) {
        if (c < '0' || c > '9' || port > 65535) {
            port = 0;
            break;
        }
        port = port * 10 + (c - '0');
    }
    const int s = (port > 0 && port <= 65535) ? connecter(port) : -1;
    if (s < 0) {
        dire("aucun flux en cours");
        return 1;
    }
    // Technician to stream: on the end of standard input only our sending side closes, so
    // the stream still reaches the technician.
    std::thread montant([s] {
        char tampon[65536];
        for (;;) {
            const ssize_t n = lire(STDIN_FILENO, tampon, sizeof tampon);
            if (n <= 0 || !ecrireTout(s, tampon, static_cast<std::size_t>(n))) break;
        }
        ::shutdown(s, SHUT_WR);
    });
    montant.detach();
    // Stream to technician: when either end stops, the relay is over.
    char tampon[65536];
    for (;;) {
        const ssize_t n = lire(s, tampon, sizeof tampon);
        if (n <= 0 || !ecrireTout(STDOUT_FILENO, tampon, static_cast<std::size_t>(n))) break;
    }
    ::close(STDOUT_FILENO);
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dossier = "/tmp/vimba-sos";
    std::chrono::milliseconds attentePrise{10000};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--dossier" && i + 1 < argc) {
            dossier = argv[++i];
        } else if (a == "--attente" && i + 1 < argc) {
            attentePrise = std::chrono::milliseconds(std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: vimba-porte [--dossier DOSSIER] [--attente MS]   (la commande vient de SSH_ORIGINAL_COMMAND)\n");
            return 3;
        }
    }
    // A technician who goes away shows up as failed writes, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);

    const char* brute = std::getenv("SSH_ORIGINAL_COMMAND");
    const std::vector<std::string> m = mots(brute ? brute : "");
    if (m.size() == 1 && m[0] == "demande") return demande(dossier, attentePrise);
    if (m.size() == 1 && m[0] == "flux") return flux(dossier);
    if (m.size() == 2 && m[0] == "lire") {
        for (const char* nom : fichiersLisibles)
            if (m[1] == nom) return lireFichier(dossier, m[1]);
    }
    dire("commande refusée");
    return 3;
}
