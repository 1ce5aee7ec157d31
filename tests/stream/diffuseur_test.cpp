// The stream server and the X11 capture source against the real display, viewers on real
// sockets, pictures decoded as the viewer decodes them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include <libyuv/scale_argb.h>

#include "reading/photo.h"
#include "stream/capteur_x11.h"
#include "stream/diffuseur.h"
#include "stream/tuiles.h"
#include "tools/voir/decodeur_h264.h"
#include "tools/voir/lecteur.h"

// Last: its macros clash with the test framework.
#include <X11/Xlib.h>

using namespace vimba::flux;
using namespace std::chrono_literals;
using Horloge = std::chrono::steady_clock;

namespace {

int connecter(std::uint16_t port, const char* source = nullptr) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (source) {
        inet_pton(AF_INET, source, &a.sin_addr);
        ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// A viewer on a socket: parses and rebuilds the picture (tiles or H.264), keeping each message.
struct Spectateur {
    int s = -1;
    vimba::voir::Lecteur lecteur;
    vimba::voir::Tableau tableau;
    std::unique_ptr<vimba::voir::Decodeur> tuiles = vimba::voir::decodeurTuiles(), video = vimba::voir::decodeurH264();
    std::vector<vimba::voir::Message> recus;
    bool ferme = false;

    explicit Spectateur(std::uint16_t port, const char* source = nullptr) : s(connecter(port, source)) { EXPECT_GE(s, 0); }
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
                auto& d = (m.genre == 'F' || m.genre == 'T') ? tuiles : video;
                EXPECT_TRUE(d->traiter(m, tableau, erreur)) << erreur;
                recus.push_back(m);
            })) << lecteur.erreur();
        }
        return true;
    }
    // Complete pictures: F with tiles, or V.
    std::size_t images() const {
        std::size_t n = 0;
        for (auto& m : recus) n += m.genre == 'V' || (m.genre == 'F' && m.champs[2] > 0);
        return n;
    }
    std::vector<const vimba::voir::Message*> f() const {
        std::vector<const vimba::voir::Message*> r;
        for (auto& m : recus)
            if (m.genre == 'F') r.push_back(&m);
        return r;
    }
};

std::uint16_t attendrePort(Diffuseur& d) {
    for (int i = 0; i < 200 && d.port() == 0; ++i) std::this_thread::sleep_for(10ms);
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

// Luma PSNR of the viewer's picture against the screen grabbed now and scaled as the capture
// scales (4:2:0 chroma alone blurs saturated edges, whatever the rate), and the largest gap
// between the mean blue, green and red of both.
std::pair<double, double> commeLEcran(const vimba::voir::Tableau& t) {
    auto brute = vimba::photo::ecranX11()->saisir();
    if (!brute) return {0, 255};
    std::vector<std::uint8_t> e(static_cast<std::size_t>(t.largeur) * t.hauteur * 4);
    libyuv::ARGBScale(brute->pixels.data(), brute->pas, brute->largeur, brute->hauteur, e.data(), t.largeur * 4, t.largeur,
                      t.hauteur, libyuv::kFilterBilinear);
    if (t.bgra.size() != e.size()) return {0, 255};
    const auto luma = [](const std::uint8_t* p) { return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]; };
    double se = 0, ecart[3] = {0, 0, 0};
    for (std::size_t k = 0; k < e.size(); k += 4) {
        se += std::pow(luma(&t.bgra[k]) - luma(&e[k]), 2);
        for (int c = 0; c < 3; ++c) ecart[c] += static_cast<double>(t.bgra[k + c]) - e[k + c];
    }
    const double n = static_cast<double>(t.largeur) * t.hauteur;
    return {se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * n / se),
            std::max({std::abs(ecart[0]), std::abs(ecart[1]), std::abs(ecart[2])}) / n};
}

long memoireKo() {
    std::ifstream f("/proc/self/status");
    std::string mot;
    long ko = 0;
    while (f >> mot)
        if (mot == "VmRSS:") f >> ko;
    return ko;
}

// A capture source that fails to start, once `libre` is set when given: the server falls back
// to polling.
struct SourceMorte final : SourceImages {
    std::shared_future<void> libre;
    bool demarrer(int, int, SurImage, SurPixels) override {
        if (libre.valid()) libre.wait();
        return false;
    }
    void arreter() override {}
    std::pair<int, int> taille() const override { return {0, 0}; }
};

class Flux : public ::testing::Test {
protected:
    void SetUp() override {
        // A coloured, textured screen so that tiles differ and the comparison means something.
        const unsigned long couleurs[] = {0xe04020, 0x30a050, 0x2060c0, 0xffd040, 0xf0f0f0};
        for (int i = 0; i < 16; ++i) dessiner(i * 120, (i % 4) * 200, 110, 300, couleurs[i % 5]);
    }
    // Stopped capture threads end on their own; none may outlive the test (a slow, sanitised build).
    void TearDown() override {
        attendreCapteurs(5s);
        std::filesystem::remove_all(dossier);
    }
    const std::string dossier = [] {
        char modele[] = "/tmp/flux-essai-XXXXXX";
        return std::string(mkdtemp(modele));
    }();
};

}  // namespace

// Each viewer closes its sending half at once: it sends nothing anyway and must still be served.
TEST_F(Flux, ChaqueSpectateurRecoitUneImageCompleteFideleUnSeulC) {
    for (const std::string moteur : {"tuiles", "h264"}) {
        SCOPED_TRACE(moteur);
        Diffuseur d(creerCapteurX11, saisieX11());
        d.demarrer(dossier, 1024, 45, moteur);
        const auto port = attendrePort(d);
        ASSERT_NE(port, 0);
        Spectateur premier(port);
        ::shutdown(premier.s, SHUT_WR);
        ASSERT_TRUE(premier.jusqua([&] { return premier.images() >= 1 && premier.lecteur.entreDeux(); }));
        EXPECT_EQ(d.moteurActif(), moteur);
        EXPECT_EQ(premier.tableau.largeur, 1024);
        const auto [psnr, ecartCouleur] = commeLEcran(premier.tableau);
        EXPECT_GE(psnr, 30.0);
        EXPECT_LT(ecartCouleur, 6.0);
        // From 127.0.0.2: closed at once, the first keeps streaming.
        Spectateur etranger(port, "127.0.0.2");
        EXPECT_TRUE(etranger.jusqua([&] { return etranger.ferme; }, 3));
        EXPECT_TRUE(etranger.recus.empty());
        const auto avant = premier.recus.size();
        EXPECT_TRUE(premier.jusqua([&] { return premier.recus.size() > avant + 2; }));
        // A second viewer replaces the first and gets its own complete picture.
        Spectateur second(port);
        ::shutdown(second.s, SHUT_WR);
        // On a still screen, heartbeats of the picture's size between the pictures.
        const auto battements = [&] {
            const auto f = second.f();
            return std::count_if(f.begin(), f.end(), [](auto* r) { return r->champs[2] == 0 && r->champs[0] == 1024; });
        };
        ASSERT_TRUE(second.jusqua([&] { return second.images() >= 1 && battements() >= 3 && second.lecteur.entreDeux(); }));
        EXPECT_TRUE(premier.jusqua([&] { return premier.ferme; }, 3));
        for (auto* v : {&premier, &second}) {
            std::string avantV;  // kinds of message up to the first picture, heartbeats aside
            for (auto& r : v->recus) {
                if (r.genre == 'F' && r.champs[2] == 0) continue;
                avantV += r.genre;
                if (r.genre == 'V' || r.genre == 'F') break;
            }
            EXPECT_EQ(avantV, moteur == "h264" ? "CV" : "F");
            const auto& f = *std::find_if(v->recus.begin(), v->recus.end(), [](auto& r) {
                                return r.genre == 'V' || (r.genre == 'F' && r.champs[2] > 0);
                            });
            const Grille g = Grille::pour(static_cast<int>(f.champs[0]), static_cast<int>(f.champs[1]));
            EXPECT_EQ(f.champs[moteur == "h264" ? 5 : 2], moteur == "h264" ? 1 : g.colonnes * g.rangees) << "complete";
        }
        std::size_t c = 0;
        for (auto& r : second.recus) c += r.genre == 'C';
        EXPECT_EQ(c, moteur == "h264" ? 1u : 0u) << "the record goes once per viewer";
    }
}

TEST_F(Flux, EcranFixeBattementsPuisSeulesLesTuilesChangees) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier, 1440, 45, "tuiles");
    Spectateur v(attendrePort(d));
    // Once the set-up's drawing has settled, a still screen gets heartbeats only, with the pointer.
    ASSERT_TRUE(v.jusqua([&] { return v.images() >= 1 && v.lecteur.entreDeux(); }));
    const auto calme = Horloge::now() + 400ms;
    v.jusqua([&] { return Horloge::now() > calme && v.lecteur.entreDeux(); });
    const auto t0 = v.recus.size();
    ASSERT_TRUE(v.jusqua([&] { return v.recus.size() >= t0 + 6; }));
    for (std::size_t i = t0; i < v.recus.size(); ++i) {
        EXPECT_EQ(v.recus[i].genre, 'F');
        EXPECT_EQ(v.recus[i].champs[2], 0);
        EXPECT_GE(v.recus[i].champs[3], 0);
    }
    // A 10 x 10 rectangle well inside the screen: one tile, maybe its neighbours at most.
    const auto avant = v.images();
    dessiner(300, 300, 10, 10, 0xff0000);
    ASSERT_TRUE(v.jusqua([&] { return v.images() > avant && v.lecteur.entreDeux(); }));
    const auto f = v.f();
    EXPECT_LE((*std::find_if(f.rbegin(), f.rend(), [](auto* r) { return r->champs[2] > 0; }))->champs[2], 4);
}

TEST_F(Flux, SansSourceLeMoteurQuiInterrogeChaqueTic) {
    Diffuseur d([] { return std::make_unique<SourceMorte>(); }, saisieX11());
    d.demarrer(dossier, 800, 45, "h264");  // no source: tiles cannot start either
    Spectateur v(attendrePort(d));
    ASSERT_TRUE(v.jusqua([&] { return v.f().size() >= 15; }));
    EXPECT_EQ(d.moteurActif(), "tuiles-anciennes");
    EXPECT_GE(d.images(), 15u);
    EXPECT_GT(d.msCapture(), 0);
    const auto f = v.f();
    EXPECT_EQ(f.front()->champs[0], 800);
    EXPECT_GT(f.front()->champs[2], 0);
    EXPECT_LT(v.images(), f.size()) << "the still screen still gets its F on every tick";
}

// A source that does not answer holds neither the stop nor a new start: it is let go only
// once both are done.
TEST_F(Flux, ArreterSansAttendreLaSourceFermeToutEtRetireLeFichier) {
    std::promise<void> liberer;
    std::shared_future<void> libre = liberer.get_future().share();
    Diffuseur d([libre] { auto s = std::make_unique<SourceMorte>(); s->libre = libre; return s; }, saisieX11());
    d.demarrer(dossier, 640, 45, "tuiles");
    const auto port = attendrePort(d);
    Spectateur v(port);
    std::this_thread::sleep_for(200ms);
    d.arreter();
    d.demarrer(dossier, 640, 45, "tuiles");
    d.arreter();
    liberer.set_value();
    EXPECT_EQ(d.port(), 0);
    EXPECT_EQ(d.moteurActif(), "aucun");
    EXPECT_FALSE(std::ifstream(dossier + "/flux.port").is_open()) << "a stale port must not outlive the stream";
    EXPECT_TRUE(v.jusqua([&] { return v.ferme; }, 3));
    EXPECT_LT(connecter(port), 0) << "nobody listens any more";
}

TEST_F(Flux, SpectateurQuiNeLitJamais) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier, 1440, 90, "tuiles");
    Spectateur muet(attendrePort(d));
    const int petit = 4096;
    setsockopt(muet.s, SOL_SOCKET, SO_RCVBUF, &petit, sizeof petit);
    // Keep the screen changing; the server drops frames instead of queueing them.
    const long avant = memoireKo();
    for (int i = 0; i < 70; ++i) {
        dessiner(0, 0, 1400, 800, 0x010203u * static_cast<unsigned>(i % 80));
        std::this_thread::sleep_for(20ms);
    }
    // About 70 full-screen frames went by: queued, they would weigh well over 100 MB.
    EXPECT_LT(memoireKo() - avant, 40 * 1024);
    EXPECT_EQ(d.moteurActif(), "tuiles");
}
TEST_F(Flux, DeuxCentsConnexions) {
    Diffuseur d(creerCapteurX11, saisieX11());
    d.demarrer(dossier, 640, 45, "tuiles");
    const auto port = attendrePort(d);
    for (int i = 0; i < 200; ++i) {
        Spectateur v(port);
        if (i % 50 == 0) {
            ASSERT_TRUE(v.jusqua([&] { return v.images() >= 1; }, 10));
        }
    }
    Spectateur dernier(port);
    EXPECT_TRUE(dernier.jusqua([&] { return dernier.images() >= 1; }, 10));
}

TEST_F(Flux, PlusDeDescripteursLEcouteurPatienteSansTournerEnRond) {
    Diffuseur d([] { return std::make_unique<SourceMorte>(); }, saisieX11());
    d.demarrer(dossier, 640, 45, "tuiles");
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
    std::this_thread::sleep_for(800ms);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t1);
    for (int fd : pris) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &avant);
    const double cpuMs = (t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6;
    EXPECT_LT(cpuMs, 200) << "the listener spins on a persistent accept error";
    // Descriptors back: the waiting viewer is taken within the back-off's ceiling.
    EXPECT_TRUE(v->jusqua([&] { return v->images() >= 1; }, 5));
}

// Full-range NV12 of the configured size, nothing on a still screen, changed rectangles in
// frame pixels.
TEST(CapteurX11, Nv12SilenceRectanglesArret) {
    dessiner(0, 0, 400, 400, 0xffffff);
    // Shared with the capture thread, which may still deliver a frame after the stop.
    struct Recues {
        std::mutex m;
        std::vector<std::vector<Rect>> rects;
        int y = -1, u = -1;
    };
    auto r = std::make_shared<Recues>();
    auto c = creerCapteurX11();
    ASSERT_TRUE(c->demarrer(640, 60, nullptr, [r](const PixelsNV12& p, const std::vector<Rect>& changes) {
        std::lock_guard v(r->m);
        if (r->y < 0) r->y = p.y[10 * p.pasY + 10], r->u = p.uv[5 * p.pasUV + 10];
        r->rects.push_back(changes);
    }));
    EXPECT_EQ(c->taille().first, 640);
    std::this_thread::sleep_for(300ms);
    {
        std::lock_guard v(r->m);
        ASSERT_EQ(r->rects.size(), 1u) << "a still screen delivers nothing";
        EXPECT_EQ(r->y, 255);  // full range: white is 255, not 235
        EXPECT_NEAR(r->u, 128, 2);
        r->rects.clear();
    }
    const double k = 640.0 / vimba::photo::ecranX11()->taille().first;
    dessiner(400, 300, 20, 20, 0x00ff00);
    for (int i = 0; i < 300 && [&] { std::lock_guard v(r->m); return r->rects.empty(); }(); ++i) std::this_thread::sleep_for(10ms);
    {
        std::lock_guard v(r->m);
        ASSERT_FALSE(r->rects.empty());
        const int cx = static_cast<int>(410 * k), cy = static_cast<int>(310 * k);
        bool couvert = false;
        for (const Rect& x : r->rects.front()) couvert = couvert || (x.x <= cx && cx < x.x + x.w && x.y <= cy && cy < x.y + x.h);
        EXPECT_TRUE(couvert);
    }
    c->arreter();
    attendreCapteurs(2s);
}
