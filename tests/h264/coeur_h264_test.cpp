#include "stream/h264/coeur_h264.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

namespace vimba {
namespace {

constexpr int L = 320, H = 192;

// The viewer's link as the engine sees it; only the headers are kept.
struct Lien : SortieVideo {
  std::atomic<bool> estPret{true};
  std::vector<std::string> entetes;
  bool pret() const override { return estPret; }
  void envoyer(std::vector<std::uint8_t> m) override {
    std::string s(m.begin(), m.end());
    entetes.push_back(s.substr(0, s.find('\n')));
  }
  std::pair<int, int> pointeur() const override { return {10, 20}; }
};

// The server's queue, run by hand.
struct File {
  std::deque<std::function<void()>> taches;
  CoeurH264::Poster poster() {
    return [this](std::function<void()> t) { taches.push_back(std::move(t)); };
  }
  void vider() {
    for (; !taches.empty(); taches.pop_front()) taches.front()();
  }
};

struct Image {
  std::vector<std::uint8_t> y = std::vector<std::uint8_t>(L * H), uv = std::vector<std::uint8_t>(L * H / 2, 128);
  explicit Image(int n) {
    for (int k = 0; k < L * H; ++k) y[k] = static_cast<std::uint8_t>((k % L + k / L + 5 * n) & 0xFF);
  }
  ImageNV12 vue() const { return {L, H, y.data(), L, uv.data(), L}; }
};

TEST(CoeurH264, OneCThenAKeyframeSentFromTheServersQueue) {
  auto lien = std::make_shared<Lien>();
  File fil;
  auto coeur = CoeurH264::creer(lien, fil.poster());
  ASSERT_TRUE(coeur->demarrer(L, H, 0.45));
  for (int n = 0; n < 3; ++n) coeur->capturee(Image(n).vue(), false);
  EXPECT_TRUE(lien->entetes.empty()) << "nothing is sent from the capture thread";
  // A request for a keyframe (a stall) repeats neither the record nor the C.
  coeur->etat().toutRenvoyer = true;
  coeur->capturee(Image(3).vue(), true);
  fil.vider();
  ASSERT_EQ(lien->entetes.size(), 5u);
  EXPECT_EQ(lien->entetes[0].substr(0, 2), "C ");
  EXPECT_EQ(lien->entetes[1].substr(0, 10), "V 320 192 ");
  std::string cles;
  for (std::size_t k = 1; k < 5; ++k) cles += lien->entetes[k].back();
  EXPECT_EQ(cles, "1001");
  EXPECT_EQ(coeur->images(), 4u);
}

TEST(CoeurH264, SlowReaderMakesTheRateFallThenClimbBack) {
  auto lien = std::make_shared<Lien>();
  File fil;
  auto coeur = CoeurH264::creer(lien, fil.poster());
  ASSERT_TRUE(coeur->demarrer(1280, 720, 0.45));
  auto& etat = coeur->etat();
  etat.octetsEnVol = 100000;  // more than a quarter of a second at this rate
  for (int n = 0; n < 5; ++n) coeur->capturee(ImageNV12{}, false);
  coeur->mesurer();
  EXPECT_EQ(coeur->encodeur().debit(), 1045094);  // 1492992 less 30 %
  etat.octetsEnVol = 0;
  for (int periode = 0; periode < 4; ++periode) coeur->mesurer();
  EXPECT_EQ(coeur->encodeur().debit(), 1492992);
}

// The core may outlive the engine that made it (a frame still in delivery on the capture
// thread): it keeps the link's end alive, and sends nothing once the viewer or core is gone.
TEST(CoeurH264, NothingGoesOnceTheViewerLeftOrTheCoreIsGone) {
  auto lien = std::make_shared<Lien>();
  std::weak_ptr<Lien> vu = lien;
  File fil;
  auto coeur = CoeurH264::creer(lien, fil.poster());
  lien.reset();
  ASSERT_TRUE(coeur->demarrer(L, H, 0.45));
  coeur->capturee(Image(0).vue(), false);
  vu.lock()->estPret = false;
  coeur->capturee(Image(1).vue(), false);
  fil.vider();
  EXPECT_TRUE(vu.lock()->entetes.empty()) << "frames for a viewer that went away are discarded";
  vu.lock()->estPret = true;
  coeur->capturee(Image(2).vue(), false);
  auto garde = vu.lock();
  coeur.reset();
  fil.vider();
  EXPECT_TRUE(garde->entetes.empty());
}

}  // namespace
}  // namespace vimba
