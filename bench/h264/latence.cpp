// Glass to glass under Xvfb: a square changes shade every 100 ms while a bar moves every
// 16 ms; a viewer in this process decodes the stream and notes when each shade shows.
// Prints p50/p95 for "h264" and, beside it on the same changes, "tuiles", with ratios.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "stream/capteur_x11.h"
#include "stream/diffuseur.h"
#include "stream/tuiles.h"
#include "tools/voir/decodeur_h264.h"
#include "tools/voir/lecteur.h"

using namespace vimba;
using Horloge = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int NIVEAUX = 16;
int teinte(int k) { return 20 + k * 14; }

double cpuMs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Resultat {
  double p50 = 0, p95 = 0, debit = 0, cpu = 0;
  std::size_t n = 0;
};

Resultat mesurer(const char* moteur, double secondes) {
  Resultat r;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return r;
  const int le = DisplayWidth(d, 0), he = DisplayHeight(d, 0);
  const auto [ls, hs] = flux::tailleImage(1440, le, he);
  const double k = double(ls) / le;
  const std::string dossier = (std::filesystem::temp_directory_path() / ("vimba-latence-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dossier);
  flux::Diffuseur diffuseur([] { return flux::creerCapteurX11(); }, flux::saisieX11());
  diffuseur.demarrer(dossier, 1440, 45, moteur);
  for (int i = 0; i < 500 && diffuseur.port() == 0; ++i) std::this_thread::sleep_for(5ms);

  std::mutex verrou;
  std::vector<Horloge::time_point> dessine(NIVEAUX);
  std::vector<double> latences;
  std::atomic<bool> fin{false};
  std::atomic<long> octets{0};

  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(diffuseur.port());
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return r;
  timeval tv{0, 200000};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  std::thread lecteur([&] {
    voir::Lecteur l;
    voir::Tableau t;
    auto tuiles = voir::decodeurTuiles();
    auto video = voir::decodeurH264();
    std::string erreur;
    int vu = -1;
    std::vector<std::uint8_t> tampon(1 << 16);
    const int cx = int((300 + 100) * k), cy = int((200 + 100) * k);
    while (!fin) {
      const ssize_t n = recv(s, tampon.data(), tampon.size(), 0);
      if (n <= 0) continue;
      octets += n;
      l.nourrir(tampon.data(), std::size_t(n), [&](const voir::Message& m) {
        auto& dec = (m.genre == 'F' || m.genre == 'T') ? tuiles : video;
        if (!dec->traiter(m, t, erreur) || t.largeur <= cx || t.hauteur <= cy) return;
        const int g = t.bgra[(std::size_t(cy) * t.largeur + cx) * 4 + 1];
        const int niveau = std::clamp((g - 20 + 7) / 14, 0, NIVEAUX - 1);
        if (niveau == vu) return;
        vu = niveau;
        std::lock_guard<std::mutex> garde(verrou);
        if (dessine[niveau].time_since_epoch().count())
          latences.push_back(std::chrono::duration<double, std::milli>(Horloge::now() - dessine[niveau]).count());
      });
    }
  });

  const Window racine = DefaultRootWindow(d);
  GC gc = XCreateGC(d, racine, 0, nullptr);
  XSetForeground(d, gc, 0xe0e0e0);
  XFillRectangle(d, racine, gc, 0, 0, le, he);
  XSync(d, False);
  std::this_thread::sleep_for(500ms);
  const auto debut = Horloge::now();
  const double cpu0 = cpuMs();
  const long octets0 = octets;
  int niveau = 0;
  auto prochainCarre = debut;
  for (int i = 0; Horloge::now() - debut < std::chrono::duration<double>(secondes); ++i) {
    // The moving bar: continuous change at 60 per second.
    const int x = 800 + (i * 8) % 600;
    XSetForeground(d, gc, 0xe0e0e0);
    XFillRectangle(d, racine, gc, 800, 500, 700, 200);
    XSetForeground(d, gc, 0x3070c0);
    XFillRectangle(d, racine, gc, x, 500, 100, 200);
    if (Horloge::now() >= prochainCarre) {
      niveau = (niveau + 1) % NIVEAUX;
      const unsigned long v = teinte(niveau);
      XSetForeground(d, gc, (v << 16) | (v << 8) | v);
      XFillRectangle(d, racine, gc, 300, 200, 200, 200);
      XSync(d, False);
      std::lock_guard<std::mutex> garde(verrou);
      dessine[niveau] = Horloge::now();
      prochainCarre += 100ms;
    } else {
      XSync(d, False);
    }
    std::this_thread::sleep_for(16ms);
  }
  const double duree = std::chrono::duration<double>(Horloge::now() - debut).count();
  r.cpu = (cpuMs() - cpu0) / 10.0 / duree;
  r.debit = (octets - octets0) * 8.0 / duree;
  fin = true;
  lecteur.join();
  close(s);
  diffuseur.arreter();
  XFreeGC(d, gc);
  XCloseDisplay(d);
  std::filesystem::remove_all(dossier);
  std::sort(latences.begin(), latences.end());
  r.n = latences.size();
  if (!latences.empty()) {
    r.p50 = latences[latences.size() / 2];
    r.p95 = latences[latences.size() * 95 / 100];
  }
  return r;
}

}  // namespace

int main() {
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "needs a desktop (scripts/avec-bureau.sh)\n");
    return 1;
  }
  const Resultat h = mesurer("h264", 5);
  const Resultat t = mesurer("tuiles", 5);
  std::printf("glass to glass at 1440 wide, 60 fps asked, a bar moving every 16 ms\n");
  std::printf("%-8s %8s %8s %6s %12s %22s\n", "engine", "p50 ms", "p95 ms", "n", "bit/s", "CPU % of a core (all)");
  for (auto [nom, r] : {std::pair{"h264", h}, std::pair{"tuiles", t}})
    std::printf("%-8s %8.1f %8.1f %6zu %12.0f %22.1f\n", nom, r.p50, r.p95, r.n, r.debit, r.cpu);
  if (t.p50 > 0 && t.debit > 0)
    std::printf("h264 / tuiles: p50 %.2f, p95 %.2f, bit/s %.2f, CPU %.2f; p50 / 35 ms goal %.2f\n", h.p50 / t.p50,
                h.p95 / t.p95, h.debit / t.debit, h.cpu / t.cpu, h.p50 / 35.0);
  return 0;
}
