#include "stream/h264/coeur_h264.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>

namespace vimba {
namespace {

constexpr int L = 320, H = 192;

// The viewer's link as the engine sees it; messages are only counted and kept by kind.
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
    while (!taches.empty()) {
      auto t = std::move(taches.front());
      taches.pop_front();
      t();
    }
  }
};

struct Image {
  std::vector<std::uint8_t> y = std::vector<std::uint8_t>(L * H), uv = std::vector<std::uint8_t>(L * H / 2, 128);
  explicit Image(int n) {
    for (int k = 0; k < L * H; ++k) y[k] = static_cast<std::uint8_t>((k % L + k / L + 5 * n) & 0xFF);
  }
  ImageNV12 vue() const { return {L, H, y.data(), L, uv.data(), L}; }
};

TEST(CoeurH264, NewViewerGetsCThenAKeyframeAndCountersFollowV) {
  Lien lien;
  File fil;
  auto coeur = CoeurH264::creer(lien, fil.poster());
  ASSERT_TRUE(coeur->demarrer(L, H, 0.45));
  EXPECT_EQ(coeur->etat().debitVise.load(), 400000);
  for (int n = 0; n < 3; ++n) coeur->capturee(Image(n).vue(), false);
  EXPECT_TRUE(lien.entetes.empty()) << "nothing is sent from the capture thread";
  fil.vider();
  ASSERT_EQ(lien.entetes.size(), 4u);
  EXPECT_EQ(lien.entetes[0].substr(0, 2), "C ");
  EXPECT_EQ(lien.entetes[1].substr(0, 10), "V 320 192 ");
  EXPECT_EQ(lien.entetes[1].back(), '1');
  EXPECT_EQ(lien.entetes[2].back(), '0');
  EXPECT_EQ(coeur->images(), 3u);

  // Another viewer: a forced keyframe with the same parameter sets, so no C this time.
  coeur->etat().toutRenvoyer = true;
  coeur->capturee(Image(3).vue(), true);
  fil.vider();
  ASSERT_EQ(lien.entetes.size(), 5u);
  EXPECT_EQ(lien.entetes[4].substr(0, 2), "V ");
  EXPECT_EQ(lien.entetes[4].back(), '1');
}

TEST(CoeurH264, SlowReaderMakesTheRateFallThenClimbBack) {
  Lien lien;
  File fil;
  auto coeur = CoeurH264::creer(lien, fil.poster());
  ASSERT_TRUE(coeur->demarrer(1280, 720, 0.45));  // 1492992 bit/s
  const std::int64_t vise = coeur->etat().debitVise;
  auto& etat = coeur->etat();
  etat.octetsEnVol = 100000;  // more than a quarter of a second at this rate
  for (int n = 0; n < 5; ++n) coeur->capturee(ImageNV12{}, false);
  EXPECT_EQ(etat.sautees.load(), 5);
  coeur->mesurer();
  EXPECT_EQ(etat.debitActuel.load(), static_cast<std::int64_t>(vise * 0.7));
  EXPECT_EQ(coeur->encodeur().debit(), etat.debitActuel.load());
  etat.octetsEnVol = 0;
  for (int periode = 0; periode < 4; ++periode) coeur->mesurer();
  EXPECT_EQ(etat.debitActuel.load(), vise);
  EXPECT_EQ(coeur->encodeur().debit(), vise);
}

TEST(CoeurH264, NothingGoesOnceTheViewerLeftOrTheEngineIsGone) {
  Lien lien;
  File fil;
  auto coeur = CoeurH264::creer(lien, fil.poster());
  ASSERT_TRUE(coeur->demarrer(L, H, 0.45));
  coeur->capturee(Image(0).vue(), false);
  lien.estPret = false;
  coeur->capturee(Image(1).vue(), false);
  fil.vider();
  EXPECT_TRUE(lien.entetes.empty()) << "frames for a viewer that went away are discarded";

  lien.estPret = true;
  coeur->capturee(Image(2).vue(), false);
  coeur.reset();
  fil.vider();
  EXPECT_TRUE(lien.entetes.empty());
}

}  // namespace
}  // namespace vimba
