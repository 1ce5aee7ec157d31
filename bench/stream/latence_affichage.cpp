// Latency from a change in a window to the viewer showing it, for "tuiles" and "h264",
// through the product's own stream server on whatever desktop this runs in (X11 or
// Wayland), so that the two can be set side by side by wayland_x11.sh.
//   banc_latence_affichage [CHANGEMENTS]   prints "MOTEUR P50 P95 P50-DEPUIS-LA-DEMANDE" in ms
// Timed from the moment the window painted: a compositor may hold the repaint a while
// (its frame pacing), which is not the capture's doing; the last column includes it.
#include <arpa/inet.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent/fabrique.h"
#include "tools/voir/decodeur_h264.h"
#include "tools/voir/lecteur.h"

using Horloge = std::chrono::steady_clock;

namespace {

double rouge = 0.2;
Horloge::time_point peint;

void tourner(int ms) {
    const auto fin = Horloge::now() + std::chrono::milliseconds(ms);
    do {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    } while (Horloge::now() < fin);
}

double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

// The window's colour changes; each time, the time until the viewer's centre pixel has it.
struct Mesure {
    std::vector<double> depuisPeinture, depuisDemande;
};

Mesure mesurer(vimba::Diffusion& d, GtkWidget* fenetre, const std::string& dossier, const std::string& moteur,
                            int changements) {
    d.demarrer(dossier, 1440, 45, moteur);
    for (int i = 0; d.port() == 0 && i < 400; ++i) tourner(5);
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(d.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(1);
    vimba::voir::Lecteur lecteur;
    vimba::voir::Tableau t;
    auto tuiles = vimba::voir::decodeurTuiles();
    auto video = vimba::voir::decodeurH264();
    std::vector<std::uint8_t> tampon(1 << 16);
    auto lire = [&](int attenteMs) {
        pollfd pf{s, POLLIN, 0};
        if (::poll(&pf, 1, attenteMs) <= 0) return;
        const ssize_t n = ::recv(s, tampon.data(), tampon.size(), 0);
        if (n <= 0) std::exit(1);
        std::string e;
        lecteur.nourrir(tampon.data(), static_cast<std::size_t>(n), [&](const vimba::voir::Message& m) {
            if (m.genre == 'F' || m.genre == 'T') tuiles->traiter(m, t, e);
            else video->traiter(m, t, e);
        });
    };
    const auto debut = Horloge::now();
    while (t.largeur == 0 || Horloge::now() - debut < std::chrono::milliseconds(500)) {
        lire(5);
        tourner(0);
    }
    Mesure ms;
    for (int i = 0; i < changements; ++i) {
        rouge = (i % 2) ? 0.25 : 0.85;
        const int attendu = static_cast<int>(rouge * 255);
        const auto t0 = Horloge::now();
        gtk_widget_queue_draw(fenetre);
        const auto limite = t0 + std::chrono::seconds(2);
        for (;;) {
            tourner(0);
            lire(1);
            const auto* p = &t.bgra[(static_cast<std::size_t>(t.hauteur / 2) * t.largeur + t.largeur / 2) * 4];
            if (lecteur.entreDeux() && std::abs(p[2] - attendu) <= 16) break;
            if (Horloge::now() > limite) break;
        }
        const auto vu = Horloge::now();
        ms.depuisDemande.push_back(std::chrono::duration<double, std::milli>(vu - t0).count());
        ms.depuisPeinture.push_back(std::chrono::duration<double, std::milli>(vu - std::max(t0, peint)).count());
        const auto calme = Horloge::now() + std::chrono::milliseconds(80);
        while (Horloge::now() < calme) {
            lire(5);
            tourner(0);
        }
    }
    ::close(s);
    d.arreter();
    tourner(100);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 30;
    if (!gtk_init_check(&argc, &argv)) return 1;
    GtkWidget* fenetre = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(fenetre), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(fenetre), 1920, 1080);
    g_signal_connect(fenetre, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer) -> gboolean {
                         peint = Horloge::now();
                         cairo_set_source_rgb(cr, rouge, 0.1, 0.1);
                         cairo_paint(cr);
                         return TRUE;
                     }), nullptr);
    gtk_widget_show_all(fenetre);
    tourner(500);
    // On Wayland the screen is the portal's to grant.
    auto permissions = vimba::creerPermissions();
    permissions->demanderAutorisations();
    for (int i = 0; !permissions->voitEcran() && i < 200; ++i) tourner(50);
    if (!permissions->voitEcran()) return 1;
    char modele[] = "/tmp/banc-affichage-XXXXXX";
    const std::string dossier = mkdtemp(modele);
    auto diffusion = vimba::creerDiffuseur();
    for (const char* moteur : {"tuiles", "h264"}) {
        const auto ms = mesurer(*diffusion, fenetre, dossier, moteur, n);
        std::printf("%s %.2f %.2f %.2f\n", moteur, quantile(ms.depuisPeinture, 0.5), quantile(ms.depuisPeinture, 0.95),
                    quantile(ms.depuisDemande, 0.5));
        std::fflush(stdout);
    }
    std::system(("rm -rf " + dossier).c_str());
    return 0;
}
