// vimba-voir: the technician's viewer. Connects to the agent's stream over loopback,
// rebuilds the picture, writes it as PNG and prints statistics. One thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/voir/decodeur_h264.h"
#include "tools/voir/fenetre.h"
#include "tools/voir/lecteur.h"

namespace {

volatile std::sig_atomic_t pngDemande = 0;
void surSignal(int) { pngDemande = 1; }

int usage() {
    std::fprintf(stderr,
                 "usage : vimba-voir [--dossier DOSSIER | --port PORT] [--png FICHIER] [--toutes SECONDES]\n"
                 "                   [--stats] [--duree SECONDES] [--images N] [--fenetre]\n"
                 "  SIGUSR1 écrit l’image courante dans le fichier PNG.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dossier = "/tmp/vimba-sos", png;
    int port = 0;
    double toutes = 0, duree = 0;
    long images = 0;
    bool stats = false, fenetre = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto valeur = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--stats") stats = true;
        else if (a == "--fenetre") fenetre = true;
        else if (a == "--dossier" && (v = valeur())) dossier = v;
        else if (a == "--port" && (v = valeur())) port = std::atoi(v);
        else if (a == "--png" && (v = valeur())) png = v;
        else if (a == "--toutes" && (v = valeur())) toutes = std::atof(v);
        else if (a == "--duree" && (v = valeur())) duree = std::atof(v);
        else if (a == "--images" && (v = valeur())) images = std::atol(v);
        else return usage();
    }
    if (port == 0) {
        std::ifstream f(dossier + "/flux.port");
        if (!(f >> port) || port <= 0 || port > 65535) {
            std::fprintf(stderr, "vimba-voir : pas de port dans %s/flux.port\n", dossier.c_str());
            return 1;
        }
    }
    std::unique_ptr<vimba::voir::Fenetre> vue;
    if (fenetre && !(vue = vimba::voir::ouvrirFenetre())) {
        std::fprintf(stderr, "vimba-voir : pas d’écran pour la fenêtre\n");
        return 1;
    }
    std::signal(SIGUSR1, surSignal);
    std::signal(SIGPIPE, SIG_IGN);

    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in adresse{};
    adresse.sin_family = AF_INET;
    adresse.sin_port = htons(static_cast<std::uint16_t>(port));
    adresse.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&adresse), sizeof adresse) != 0) {
        std::fprintf(stderr, "vimba-voir : connexion au port %d impossible : %s\n", port, std::strerror(errno));
        return 1;
    }

    using Horloge = std::chrono::steady_clock;
    const auto debut = Horloge::now();
    auto seconde = debut, dernierPng = debut, derniereVue = debut;
    vimba::voir::Lecteur lecteur;
    vimba::voir::Tableau tableau;
    auto tuiles = vimba::voir::decodeurTuiles();
    auto video = vimba::voir::decodeurH264();
    long messages = 0, octets = 0, trames = 0, totalTrames = 0;
    std::string erreur;
    bool fini = false;
    auto ecrire = [&] {
        if (png.empty()) return;
        if (!vimba::voir::ecrirePng(tableau, png)) std::fprintf(stderr, "vimba-voir : PNG non écrit\n");
    };
    std::vector<std::uint8_t> tampon(1 << 16);
    int code = 0;
    while (!fini) {
        pollfd pf{s, POLLIN, 0};
        const int r = ::poll(&pf, 1, 100);
        const auto maintenant = Horloge::now();
        if (r > 0) {
            const ssize_t n = ::recv(s, tampon.data(), tampon.size(), 0);
            if (n <= 0) {
                if (!lecteur.entreDeux()) {
                    std::fprintf(stderr, "vimba-voir : flux coupé au milieu d’un message\n");
                    code = 1;
                } else {
                    std::fprintf(stderr, "vimba-voir : flux fermé par l’agent\n");
                }
                break;
            }
            octets += n;
            const bool ok = lecteur.nourrir(tampon.data(), static_cast<std::size_t>(n), [&](const vimba::voir::Message& m) {
                ++messages;
                if (!erreur.empty()) return;
                if (m.genre == 'F' || m.genre == 'T') {
                    if (!tuiles->traiter(m, tableau, erreur)) return;
                    if (m.genre == 'F' && m.champs[2] > 0) {
                        ++trames;
                        ++totalTrames;
                    }
                } else {
                    if (!video->traiter(m, tableau, erreur)) return;
                    if (m.genre == 'V') {
                        ++trames;
                        ++totalTrames;
                    }
                }
            });
            if (!ok || !erreur.empty()) {
                std::fprintf(stderr, "vimba-voir : flux invalide : %s\n", ok ? erreur.c_str() : lecteur.erreur().c_str());
                code = 1;
                break;
            }
            if (images > 0 && totalTrames >= images && lecteur.entreDeux()) fini = true;
            if (vue && lecteur.entreDeux() && maintenant - derniereVue >= std::chrono::milliseconds(30)) {
                derniereVue = maintenant;
                if (!vue->montrer(tableau)) break;
            }
        }
        if (pngDemande) {
            pngDemande = 0;
            ecrire();
        }
        if (toutes > 0 && std::chrono::duration<double>(maintenant - dernierPng).count() >= toutes) {
            dernierPng = maintenant;
            ecrire();
        }
        if (stats && maintenant - seconde >= std::chrono::seconds(1)) {
            std::printf("messages %ld octets %ld images %ld pointeur %d %d taille %dx%d\n", messages, octets, trames,
                        tableau.px, tableau.py, tableau.largeur, tableau.hauteur);
            std::fflush(stdout);
            messages = octets = trames = 0;
            seconde = maintenant;
        }
        if (duree > 0 && std::chrono::duration<double>(maintenant - debut).count() >= duree) fini = true;
    }
    if (fini) ecrire();
    ::close(s);
    return code;
}
