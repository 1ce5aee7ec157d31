// Latency from a screen change to the viewer holding the changed tiles, and bytes per
// change, for "tuiles" and "tuiles-anciennes"; beside them a baseline measured in the
// same process: the whole frame grabbed, scaled and encoded as one JPEG per change.
// Run under a desktop (scripts/avec-bureau.sh).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "stream/capteur_x11.h"
#include "stream/diffuseur.h"
#include "stream/tuiles.h"
#include "tools/voir/lecteur.h"

#include <X11/Xlib.h>

using namespace vimba::flux;
using Horloge = std::chrono::steady_clock;

namespace {

class SourceMorte final : public SourceImages {
public:
    bool demarrer(int, int, SurImage, SurPixels) override { return false; }
    void arreter() override {}
    std::pair<int, int> taille() const override { return {0, 0}; }
};

struct Mesure {
    std::vector<double> ms;
    std::vector<double> octets;
};

double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

// Draws rectangles of changing colours and waits, each time, for the viewer's picture to
// show the colour at the rectangle's centre.
Mesure mesurer(Diffuseur& d, const std::string& dossier, const std::string& moteur, int changements) {
    d.demarrer(dossier, 1440, 45, moteur);
    while (d.port() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(d.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::exit(1);
    vimba::voir::Lecteur lecteur;
    vimba::voir::Tableau t;
    auto tuiles = vimba::voir::decodeurTuiles();
    std::size_t recus = 0;
    std::vector<std::uint8_t> tampon(1 << 16);
    auto lire = [&](int attenteMs) {
        pollfd pf{s, POLLIN, 0};
        if (::poll(&pf, 1, attenteMs) <= 0) return;
        const ssize_t n = ::recv(s, tampon.data(), tampon.size(), 0);
        if (n <= 0) std::exit(1);
        recus += static_cast<std::size_t>(n);
        std::string e;
        lecteur.nourrir(tampon.data(), static_cast<std::size_t>(n), [&](const vimba::voir::Message& m) {
            if (m.genre == 'F' || m.genre == 'T') tuiles->traiter(m, t, e);
        });
    };
    const auto debut = Horloge::now();
    while (t.largeur == 0 || Horloge::now() - debut < std::chrono::milliseconds(500)) lire(20);

    Display* x = XOpenDisplay(nullptr);
    GC gc = XCreateGC(x, DefaultRootWindow(x), 0, nullptr);
    const int ecranL = DisplayWidth(x, DefaultScreen(x));
    const double k = static_cast<double>(t.largeur) / ecranL;
    Mesure m;
    for (int i = 0; i < changements; ++i) {
        const int rx = 100 + (i * 137) % 1200, ry = 100 + (i * 71) % 600;
        const int cx = static_cast<int>((rx + 20) * k), cy = static_cast<int>((ry + 20) * k);
        // A red the viewer's picture does not already show there.
        const int actuel = t.bgra[(static_cast<std::size_t>(cy) * t.largeur + cx) * 4 + 2];
        const std::uint8_t rouge = static_cast<std::uint8_t>(40 + (actuel + 100) % 200);
        XSetForeground(x, gc, static_cast<unsigned long>(rouge) << 16);
        const std::size_t avant = recus;
        const auto t0 = Horloge::now();
        XFillRectangle(x, DefaultRootWindow(x), gc, rx, ry, 40, 40);
        XFlush(x);
        const auto limite = t0 + std::chrono::seconds(2);
        for (;;) {
            lire(2);
            const auto* p = &t.bgra[(static_cast<std::size_t>(cy) * t.largeur + cx) * 4];
            if (lecteur.entreDeux() && std::abs(p[2] - rouge) <= 12 && p[1] <= 12) break;
            if (Horloge::now() > limite) break;
        }
        m.ms.push_back(std::chrono::duration<double, std::milli>(Horloge::now() - t0).count());
        // Settle, so each change is measured alone; bytes counted to the end of the settling.
        const auto calme = Horloge::now() + std::chrono::milliseconds(60);
        while (Horloge::now() < calme) lire(5);
        m.octets.push_back(static_cast<double>(recus - avant));
    }
    XFreeGC(x, gc);
    XCloseDisplay(x);
    ::close(s);
    d.arreter();
    return m;
}

// The baseline: grab, scale and encode the whole frame as one JPEG, per change.
Mesure referenceImageEntiere(int changements) {
    auto saisie = saisieX11();
    Mesure m;
    for (int i = 0; i < changements; ++i) {
        const auto t0 = Horloge::now();
        auto image = saisie(1440);
        if (!image) std::exit(1);
        const auto jpeg = jpegTuile(*image, {0, 0, image->largeur, image->hauteur}, 0.45);
        m.ms.push_back(std::chrono::duration<double, std::milli>(Horloge::now() - t0).count());
        m.octets.push_back(static_cast<double>(jpeg.size()));
    }
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 60;
    char modele[] = "/tmp/flux-banc-XXXXXX";
    const std::string dossier = mkdtemp(modele);
    // A textured screen so that whole-frame JPEGs cost what they would on a desktop.
    {
        Display* x = XOpenDisplay(nullptr);
        GC gc = XCreateGC(x, DefaultRootWindow(x), 0, nullptr);
        for (int i = 0; i < 400; ++i) {
            XSetForeground(x, gc, 0x0a1b2cu * static_cast<unsigned>(i + 1) & 0xffffff);
            XFillRectangle(x, DefaultRootWindow(x), gc, (i * 97) % 1900, (i * 53) % 1060, 60, 20);
        }
        XSync(x, False);
        XFreeGC(x, gc);
        XCloseDisplay(x);
    }
    const Mesure ref = referenceImageEntiere(n);
    Diffuseur tuiles(creerCapteurX11, saisieX11());
    const Mesure mt = mesurer(tuiles, dossier, "tuiles", n);
    Diffuseur anciennes([] { return std::make_unique<SourceMorte>(); }, saisieX11());
    const Mesure ma = mesurer(anciennes, dossier, "tuiles", n);
    std::system(("rm -rf " + dossier).c_str());

    const double refP50 = quantile(ref.ms, 0.5), refOctets = quantile(ref.octets, 0.5);
    std::printf("%d changements de 40x40, image 1440 de large, qualité 45\n", n);
    std::printf("%-18s %9s %9s %12s %14s %14s\n", "moteur", "p50 ms", "p95 ms", "octets/chgt", "p50/référence",
                "octets/réf.");
    auto ligne = [&](const char* nom, const Mesure& m) {
        std::printf("%-18s %9.2f %9.2f %12.0f %14.2f %14.3f\n", nom, quantile(m.ms, 0.5), quantile(m.ms, 0.95),
                    quantile(m.octets, 0.5), quantile(m.ms, 0.5) / refP50, quantile(m.octets, 0.5) / refOctets);
    };
    ligne("référence (JPEG entier, sans réseau)", ref);
    ligne("tuiles", mt);
    ligne("tuiles-anciennes", ma);
    return 0;
}
