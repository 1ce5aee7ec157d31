// The h264 engine through the real server and the X11 capture source, under Xvfb: what a
// viewer connecting on the loopback receives, decoded and compared with the screen.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <libyuv.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "stream/capteur_x11.h"
#include "stream/diffuseur.h"
#include "stream/tuiles.h"
#include "tools/voir/decodeur_h264.h"

namespace vimba::flux {
namespace {

using namespace std::chrono_literals;

struct Message {
  char type = 0;
  std::vector<std::string> champs;
  std::vector<std::uint8_t> charge;
};

// A viewer on a plain socket, reading with a deadline.
class Spectateur {
 public:
  explicit Spectateur(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    timeval t{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connecte_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Spectateur() { close(fd_); }
  bool connecte() const { return connecte_; }

  std::optional<Message> lire() {
    Message m;
    std::string ligne;
    for (char c; (c = octet()) != '\n';) {
      if (c == 0 && ferme_) return std::nullopt;
      ligne += c;
    }
    if (ligne.empty()) return std::nullopt;
    m.type = ligne[0];
    std::size_t i = 2;
    while (i <= ligne.size()) {
      const std::size_t j = std::min(ligne.find(' ', i), ligne.size());
      m.champs.push_back(ligne.substr(i, j - i));
      i = j + 1;
    }
    std::size_t longueur = 0;
    if (m.type == 'C' && m.champs.size() == 1) longueur = std::stoul(m.champs[0]);
    if (m.type == 'V' && m.champs.size() == 6) longueur = std::stoul(m.champs[2]);
    if (m.type == 'F' && m.champs.size() == 5 && m.champs[2] != "0") return std::nullopt;  // no tiles here
    m.charge.resize(longueur);
    for (auto& o : m.charge) o = static_cast<std::uint8_t>(octet());
    if (ferme_) return std::nullopt;
    return m;
  }
  // The next C or V message, heartbeats skipped.
  std::optional<Message> image() {
    for (int k = 0; k < 200; ++k) {
      auto m = lire();
      if (!m || m->type != 'F') return m;
    }
    return std::nullopt;
  }

 private:
  char octet() {
    char c = 0;
    if (recv(fd_, &c, 1, MSG_WAITALL) != 1) ferme_ = true;
    return c;
  }
  int fd_ = -1;
  bool connecte_ = false;
  bool ferme_ = false;
};

// Paints the root window with panels and a band of colours so the picture has content.
void peindreEcran(Display* d) {
  const Window racine = DefaultRootWindow(d);
  GC gc = XCreateGC(d, racine, 0, nullptr);
  const unsigned long couleurs[] = {0x2060c0, 0xf0f0f0, 0xe04020, 0x30a050, 0x202020, 0xffd040};
  for (int k = 0; k < 6; ++k) {
    XSetForeground(d, gc, couleurs[k]);
    XFillRectangle(d, racine, gc, k * 320, 0, 320, 1080);
  }
  XSetForeground(d, gc, 0x000000);
  for (int y = 100; y < 1000; y += 40) XFillRectangle(d, racine, gc, 360, y, 900, 12);
  XFreeGC(d, gc);
  XSync(d, False);
}

std::vector<std::uint8_t> ecranA(Display* d, int largeur, int hauteur) {
  const int l = DisplayWidth(d, 0), h = DisplayHeight(d, 0);
  XImage* im = XGetImage(d, DefaultRootWindow(d), 0, 0, l, h, AllPlanes, ZPixmap);
  std::vector<std::uint8_t> sortie(static_cast<std::size_t>(largeur) * hauteur * 4);
  libyuv::ARGBScale(reinterpret_cast<std::uint8_t*>(im->data), im->bytes_per_line, l, h, sortie.data(), largeur * 4,
                    largeur, hauteur, libyuv::kFilterBilinear);  // as the capture scales
  XDestroyImage(im);
  return sortie;
}

// PSNR of the luma, as video quality is usually given: 4:2:0 chroma alone blurs the edges
// of saturated colours, which the encoder's rate has nothing to do with.
double psnr(const ImageDecodee& a, const std::vector<std::uint8_t>& b, int largeurB) {
  const auto luma = [](const std::uint8_t* p) { return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]; };
  double se = 0;
  for (int y = 0; y < a.hauteur; ++y)
    for (int x = 0; x < a.largeur; ++x) {
      const double e = luma(&a.bgra[(y * a.largeur + x) * 4]) - luma(&b[(y * largeurB + x) * 4]);
      se += e * e;
    }
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * a.largeur * a.hauteur / se);
}

class BoutABout : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a desktop";
    affichage = XOpenDisplay(nullptr);
    ASSERT_NE(affichage, nullptr);
    peindreEcran(affichage);
    dossier = std::filesystem::temp_directory_path() / ("vimba-h264-" + std::to_string(getpid()));
    std::filesystem::create_directories(dossier);
    diffuseur = std::make_unique<Diffuseur>([] { return creerCapteurX11(); }, saisieX11());
    diffuseur->demarrer(dossier.string(), 640, 45, "h264");
    const auto limite = std::chrono::steady_clock::now() + 5s;
    while (diffuseur->port() == 0 && std::chrono::steady_clock::now() < limite) std::this_thread::sleep_for(5ms);
    ASSERT_NE(diffuseur->port(), 0);
  }
  void TearDown() override {
    if (diffuseur) diffuseur->arreter();
    diffuseur.reset();
    if (affichage) XCloseDisplay(affichage);
    std::error_code ec;
    std::filesystem::remove_all(dossier, ec);
  }
  Display* affichage = nullptr;
  std::filesystem::path dossier;
  std::unique_ptr<Diffuseur> diffuseur;
};

TEST_F(BoutABout, ViewerGetsCThenAKeyframeThatLooksLikeTheScreen) {
  Spectateur s(diffuseur->port());
  ASSERT_TRUE(s.connecte());
  auto c = s.image();
  ASSERT_TRUE(c);
  ASSERT_EQ(c->type, 'C');
  auto v = s.image();
  ASSERT_TRUE(v);
  ASSERT_EQ(v->type, 'V');
  EXPECT_EQ(v->champs[5], "1");
  EXPECT_EQ(diffuseur->moteurActif(), "h264");
  const int largeur = std::stoi(v->champs[0]), hauteur = std::stoi(v->champs[1]);
  EXPECT_EQ(largeur, 640);

  DecodeurH264 dec;
  ASSERT_TRUE(dec.configurer(c->charge));
  ImageDecodee image;
  ASSERT_TRUE(dec.decoder(v->charge.data(), v->charge.size(), image));
  EXPECT_GE(psnr(image, ecranA(affichage, largeur, hauteur), largeur), 30.0);
}

TEST_F(BoutABout, SecondViewerGetsItsOwnKeyframe) {
  Spectateur premier(diffuseur->port());
  ASSERT_TRUE(premier.connecte());
  auto c1 = premier.image();
  ASSERT_TRUE(c1 && c1->type == 'C');
  Spectateur second(diffuseur->port());
  ASSERT_TRUE(second.connecte());
  auto c2 = second.image();
  ASSERT_TRUE(c2);
  EXPECT_EQ(c2->type, 'C');
  auto v2 = second.image();
  ASSERT_TRUE(v2);
  ASSERT_EQ(v2->type, 'V');
  EXPECT_EQ(v2->champs[5], "1");
}

}  // namespace
}  // namespace vimba::flux
