// The stream server against the real X display, viewers on real sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include <libyuv/scale_argb.h>

#include "reading/photo.h"
#include "stream/capteur_x11.h"
#include "stream/diffuseur.h"
#include "stream/tuiles.h"
#include "tools/voir/lecteur.h"

// Last: its macros clash with the test framework.
#include <X11/Xlib.h>

using namespace vimba::flux;
using Horloge = std::chrono::steady_clock;

namespace {

// A viewer on a socket: reads, parses and rebuilds the picture, keeping each message.
struct Spectateur {
    int s = -1;
    vimba::voir::Lecteur lecteur;
    vimba::voir::Tableau tableau;
    std::unique_ptr<vimba::voir::Decodeur> tuiles = vimba::voir::decodeurTuiles();
    struct Recu {
        vimba::voir::Message m;
        Horloge::time_point quand;
    };
    std::vector<Recu> recus;
    bool ferme = false;

    explicit Spectateur(std::uint16_t port, const char* source = nullptr) {
        s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (source) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            inet_pton(AF_INET, source, &a.sin_addr);
            ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    ~Spectateur() { ::close(s); }

    // Reads until `fini` holds or the deadline passes.
    template <class F>
    bool jusqua(F fini, double secondes = 5) {
        const auto limite = Horloge::now() + std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(secondes));
        std::vector<std::uint8_t> tampon(1 << 16);
        while (!fini()) {
            if (ferme || Horloge::now() > limite) return false;
            pollfd pf{s, POLLIN, 0};
            if (::poll(&pf, 1, 20) <= 0) continue;
            const ssize_t n = ::recv(s, tampon.data(), tampon.size(), 0);
            if (n <= 0) {
                ferme = true;
                continue;
            }
            std::string erreur;
            EXPECT_TRUE(lecteur.nourrir(tampon.data(), static_cast<std::size_t>(n), [&](const vimba::voir::Message& m) {
                if (m.genre == 'F' || m.genre == 'T') EXPECT_TRUE(tuiles->traiter(m, tableau, erreur)) << erreur;
                recus.push_back({m, Horloge::now()});
            })) << lecteur.erreur();
        }
        return true;
    }
    std::vector<const vimba::voir::Message*> f() const {
        std::vector<const vimba::voir::Message*> r;
        for (auto& x : recus)
            if (x.m.genre == 'F') r.push_back(&x.m);
        return r;
    }
    std::size_t nombreF(bool avecTuiles) const {
        std::size_t n = 0;
        for (auto* m : f()) n += (m->champs[2] > 0) == avecTuiles;
        return n;
    }
};

struct Dossier {
    std::string chemin;
    Dossier() {
        char modele[] = "/tmp/flux-essai-XXXXXX";
        chemin = mkdtemp(modele);
    }
    ~Dossier() { std::system(("rm -rf " + chemin).c_str()); }
    std::string portEcrit() const {
        std::ifstream f(chemin + "/flux.port");
        std::string s((std::istreambuf_iterator<char>(f)), {});
        return s;
    }
};

std::uint16_t attendrePort(Diffuseur& d) {
    for (int i = 0; i < 200 && d.port() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return d.port();
}

// Draws a filled rectangle on the root window, which DAMAGE reports.
void dessiner(int x, int y, int w, int h, unsigned long couleur) {
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    GC gc = XCreateGC(d, DefaultRootWindow(d), 0, nullptr);
    XSetForeground(d, gc, couleur);
    XFillRectangle(d, DefaultRootWindow(d), gc, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XFreeGC(d, gc);
    XSync(d, False);
    XCloseDisplay(d);
}

double psnr(const vimba::voir::Tableau& t, const ImageBGRA& i) {
    double somme = 0;
    std::size_t n = 0;
    for (int y = 0; y < t.hauteur; ++y)
        for (int x = 0; x < t.largeur; ++x)
            for (int c = 0; c < 3; ++c) {
                const double e = t.bgra[(static_cast<std::size_t>(y) * t.largeur + x) * 4 + c] -
                                 i.pixels[static_cast<std::size_t>(y) * i.pas + x * 4 + c];
                somme += e * e;
                ++n;
            }
    const double mse = somme / static_cast<double>(n);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

long memoireKo() {
    std::ifstream f("/proc/self/status");
    std::string mot;
    long ko = 0;
    while (f >> mot)
        if (mot == "VmRSS:") f >> ko;
    return ko;
}

// A capture source that never starts: the server must poll the display itself.
class SourceMorte final : public SourceImages {
public:
    bool demarrer(int, int, SurImage, SurPixels) override { return false; }
    void arreter() override {}
    std::pair<int, int> taille() const override { return {0, 0}; }
};

class Flux : public ::testing::Test {
protected:
    void SetUp() override {
        // A textured screen so that tiles differ and the JPEG comparison means something.
        for (int i = 0; i < 16; ++i) dessiner(i * 120, (i % 4) * 200, 110, 300, 0x102030u * static_cast<unsigned>(i + 1));
    }
    Dossier dossier;
};

}  // namespace

TEST_F(Flux, PremiereImageCompleteFideleALEcran) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier.chemin, 1440, 45, "tuiles");
    const auto port = attendrePort(d);
    ASSERT_NE(port, 0);
    EXPECT_EQ(dossier.portEcrit(), std::to_string(port) + "\n");
    Spectateur v(port);
    ASSERT_TRUE(v.jusqua([&] { return v.nombreF(true) >= 1 && v.lecteur.entreDeux(); }));
    EXPECT_EQ(d.moteurActif(), "tuiles");
    const auto* f = v.f().front();
    const Grille g = Grille::pour(static_cast<int>(f->champs[0]), static_cast<int>(f->champs[1]));
    EXPECT_EQ(f->champs[0], 1440);
    EXPECT_EQ(f->champs[2], g.colonnes * g.rangees);
    // The root grabbed now and scaled the same way.
    auto ecran = saisieX11()(1440);
    ASSERT_TRUE(ecran);
    auto brute = vimba::photo::ecranX11()->saisir();
    ASSERT_TRUE(brute);
    const auto [w, h] = tailleImage(1440, brute->largeur, brute->hauteur);
    ASSERT_EQ(f->champs[1], h);
    ImageBGRA attendu{w, h, w * 4, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4)};
    libyuv::ARGBScale(brute->pixels.data(), brute->pas, brute->largeur, brute->hauteur, attendu.pixels.data(), attendu.pas,
                      w, h, libyuv::kFilterBilinear);
    EXPECT_GE(psnr(v.tableau, attendu), 30.0);
}

TEST_F(Flux, PetitRectangleSeulesSesTuilesEtBattements) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier.chemin, 1440, 45, "tuiles");
    Spectateur v(attendrePort(d));
    // Let the drawing of the set-up settle, then a still screen: heartbeats only, about
    // every 150 ms, with the pointer.
    const auto calme = Horloge::now() + std::chrono::milliseconds(400);
    v.jusqua([&] { return Horloge::now() > calme && v.lecteur.entreDeux(); });
    const auto t0 = v.recus.size();
    ASSERT_TRUE(v.jusqua([&] { return v.recus.size() >= t0 + 6; }));
    for (std::size_t i = t0; i < v.recus.size(); ++i) {
        EXPECT_EQ(v.recus[i].m.genre, 'F');
        EXPECT_EQ(v.recus[i].m.champs[2], 0);
        EXPECT_GE(v.recus[i].m.champs[3], 0);
    }
    for (std::size_t i = t0 + 1; i < v.recus.size(); ++i) {
        const auto ecart = std::chrono::duration<double, std::milli>(v.recus[i].quand - v.recus[i - 1].quand).count();
        EXPECT_GT(ecart, 100);
        EXPECT_LT(ecart, 260);
    }
    // A 10 x 10 rectangle well inside the screen: one tile, maybe its neighbours at most.
    const auto avant = v.nombreF(true);
    dessiner(300, 300, 10, 10, 0xff0000);
    ASSERT_TRUE(v.jusqua([&] { return v.nombreF(true) > avant && v.lecteur.entreDeux(); }));
    const auto f = v.f();
    const auto* dernier = *std::find_if(f.rbegin(), f.rend(), [](auto* m) { return m->champs[2] > 0; });
    EXPECT_LE(dernier->champs[2], 4);
}

TEST_F(Flux, NouveauSpectateurRemplaceLAncienEtPairNonLocalFerme) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier.chemin, 1024, 45, "tuiles");
    const auto port = attendrePort(d);
    Spectateur premier(port);
    ASSERT_TRUE(premier.jusqua([&] { return premier.nombreF(true) >= 1; }));
    // From 127.0.0.2: closed at once, the first keeps streaming.
    Spectateur etranger(port, "127.0.0.2");
    EXPECT_TRUE(etranger.jusqua([&] { return etranger.ferme; }, 3));
    EXPECT_TRUE(etranger.recus.empty());
    const auto avant = premier.recus.size();
    EXPECT_TRUE(premier.jusqua([&] { return premier.recus.size() > avant + 2; }));
    Spectateur second(port);
    ASSERT_TRUE(second.jusqua([&] { return second.nombreF(true) >= 1 && second.lecteur.entreDeux(); }));
    const auto* f = second.f().front();
    const Grille g = Grille::pour(static_cast<int>(f->champs[0]), static_cast<int>(f->champs[1]));
    EXPECT_EQ(f->champs[2], g.colonnes * g.rangees);
    EXPECT_TRUE(premier.jusqua([&] { return premier.ferme; }, 3));
}

TEST_F(Flux, SansSourceLeMoteurQuiInterrogeToutesLes40ms) {
    Diffuseur d([] { return std::make_unique<SourceMorte>(); }, saisieX11());
    d.demarrer(dossier.chemin, 800, 45, "h264");  // no H.264 here: tiles, then polling
    Spectateur v(attendrePort(d));
    ASSERT_TRUE(v.jusqua([&] { return v.f().size() >= 15; }));
    EXPECT_EQ(d.moteurActif(), "tuiles-anciennes");
    EXPECT_GE(d.images(), 15u);
    EXPECT_GT(d.msCapture(), 0);
    const auto f = v.f();
    EXPECT_GT(f.front()->champs[2], 0);
    EXPECT_EQ(f.front()->champs[0], 800);
    const auto& r = v.recus;
    const auto duree = std::chrono::duration<double, std::milli>(r.back().quand - r.front().quand).count();
    const double moyenne = duree / static_cast<double>(f.size() - 1);
    EXPECT_GT(moyenne, 30);
    EXPECT_LT(moyenne, 130);  // a slow (sanitised) build skips ticks it overran
    EXPECT_GT(v.nombreF(false), 0u);  // the still screen still gets its F on every tick
}

TEST_F(Flux, ArreterFermeToutEtRetireLeFichier) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier.chemin, 1440, 45, "tuiles");
    const auto port = attendrePort(d);
    Spectateur v(port);
    ASSERT_TRUE(v.jusqua([&] { return v.nombreF(true) >= 1; }));
    d.arreter();
    EXPECT_EQ(d.port(), 0);
    EXPECT_EQ(d.moteurActif(), "aucun");
    EXPECT_FALSE(std::ifstream(dossier.chemin + "/flux.port").is_open()) << "a stale port must not outlive the stream";
    EXPECT_TRUE(v.jusqua([&] { return v.ferme; }, 3));
    // Nobody listens any more.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(s);
}

TEST_F(Flux, SpectateurQuiNeLitJamais) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier.chemin, 1440, 90, "tuiles");
    const auto port = attendrePort(d);
    Spectateur muet(port);
    const int petit = 4096;
    setsockopt(muet.s, SOL_SOCKET, SO_RCVBUF, &petit, sizeof petit);
    // Keep the screen changing; the server drops frames instead of queueing them.
    const long avant = memoireKo();
    const auto limite = Horloge::now() + std::chrono::milliseconds(1500);
    for (int i = 0; Horloge::now() < limite; ++i) {
        dessiner(0, 0, 1400, 800, 0x010203u * static_cast<unsigned>(i % 80));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // About 70 full-screen frames went by: queued, they would weigh well over 100 MB.
    EXPECT_LT(memoireKo() - avant, 40 * 1024);
    const auto t0 = Horloge::now();
    EXPECT_EQ(d.moteurActif(), "tuiles");
    d.arreter();
    EXPECT_LT(std::chrono::duration<double>(Horloge::now() - t0).count(), 1.0);
}

TEST_F(Flux, DeuxCentsConnexions) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier.chemin, 640, 45, "tuiles");
    const auto port = attendrePort(d);
    for (int i = 0; i < 200; ++i) {
        Spectateur v(port);
        if (i % 50 == 0) ASSERT_TRUE(v.jusqua([&] { return v.nombreF(true) >= 1; }, 10));
    }
    Spectateur dernier(port);
    EXPECT_TRUE(dernier.jusqua([&] { return dernier.nombreF(true) >= 1; }, 10));
}

TEST_F(Flux, PlusDeDescripteursLEcouteurPatienteSansTournerEnRond) {
    Diffuseur d([] { return std::make_unique<SourceMorte>(); }, saisieX11());
    d.demarrer(dossier.chemin, 640, 45, "tuiles");
    const auto port = attendrePort(d);
    ASSERT_NE(port, 0);
    // Every descriptor taken but the viewer's own: the server's accept fails with EMFILE.
    rlimit avant{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &avant), 0);
    rlimit serre = avant;
    serre.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &serre), 0);
    std::vector<int> pris;
    for (int fd; (fd = ::dup(0)) >= 0;) pris.push_back(fd);
    ::close(pris.back());
    pris.pop_back();
    auto v = std::make_unique<Spectateur>(port);
    timespec t0{}, t1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t1);
    for (int fd : pris) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &avant);
    const double cpuMs = (t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6;
    EXPECT_LT(cpuMs, 200) << "the listener spins on a persistent accept error";
    // Descriptors back: the waiting viewer is taken within the back-off's ceiling.
    EXPECT_TRUE(v->jusqua([&] { return v->nombreF(true) >= 1; }, 5));
}
