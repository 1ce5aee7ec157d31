// The H.264 engine: the encoder, the viewer's decoder on what it produces and on bad input,
// the drop and rate rules, and the core between a capture and a viewer's link.
#include <gtest/gtest.h>

#include <deque>

#include "stream/h264/coeur_h264.h"
#include "stream/h264/encodeur.h"
#include "tools/voir/decodeur_h264.h"

#include <atomic>
#include <thread>

namespace vimba {
namespace {

struct Livree {
  Octets octets;
  bool cle = false;
  std::optional<Octets> reglages;
};

// A moving gradient, with noise when `bruit` (which no rate encodes well).
struct Image {
  int l, h;
  std::vector<std::uint8_t> y, uv;
  Image(int l_, int h_, int n, int bruit = 0) : l(l_), h(h_), y(l_ * h_), uv(l_ * h_ / 2, 128) {
    std::uint32_t graine = 1234u + n;
    for (int k = 0; k < l * h; ++k, graine = graine * 1664525u + 1013904223u)
      y[k] = static_cast<std::uint8_t>(k % l + k / l + 3 * n + (bruit ? (graine >> 24) % bruit : 0));
  }
  ImageNV12 vue() const { return {l, h, y.data(), l, uv.data(), l}; }
};

// Splits a sample into its length-prefixed units; false when the lengths do not add up.
bool decouper(const Octets& s, std::vector<int>* types) {
  std::size_t i = 0;
  while (i < s.size()) {
    if (s.size() - i < 4) return false;
    const std::size_t n = (std::size_t(s[i]) << 24) | (std::size_t(s[i + 1]) << 16) | (std::size_t(s[i + 2]) << 8) | s[i + 3];
    i += 4;
    if (n == 0 || n > s.size() - i) return false;
    if (types) types->push_back(s[i] & 0x1F);
    i += n;
  }
  return !s.empty();
}

class EncodeurTest : public ::testing::Test {
 protected:
  std::vector<Livree> sorties;
  Encodeur enc;
  void brancher() {
    enc.definirLivrer([this](Octets o, bool c, std::optional<Octets> r) { sorties.push_back({std::move(o), c, std::move(r)}); });
  }
};

TEST_F(EncodeurTest, RefusesEmptySizesAndStaysIdle) {
  for (auto [l, h] : {std::pair{0, 480}, {640, 0}, {-2, 10}, {1, 480}}) {
    EXPECT_FALSE(enc.demarrer(l, h, 1000000, 60)) << l << "x" << h;
    EXPECT_FALSE(enc.vivant());
  }
  enc.regler(500000);
  EXPECT_EQ(enc.debit(), 0);
}

TEST_F(EncodeurTest, FirstForcedFrameIsKeyWithRecordAndLaterKeyframesCarryNone) {
  ASSERT_TRUE(enc.demarrer(320, 192, 800000, 60));
  brancher();
  EXPECT_EQ(enc.debit(), 800000);
  for (int n = 0; n < 12; ++n) enc.encoder(Image(320, 192, n).vue(), n == 0 || n == 8);
  ASSERT_EQ(sorties.size(), 12u);

  ASSERT_TRUE(sorties[0].cle);
  ASSERT_TRUE(sorties[0].reglages.has_value());
  const Octets& r = *sorties[0].reglages;
  ASSERT_GE(r.size(), 11u);
  EXPECT_EQ(r[1], 100) << "High profile";
  for (std::size_t k = 0; k < sorties.size(); ++k) {
    std::vector<int> types;
    EXPECT_TRUE(decouper(sorties[k].octets, &types)) << "sample " << k;
    for (int t : types) EXPECT_NE(t, 7) << "no SPS inside samples";
    EXPECT_EQ(sorties[k].cle, k == 0 || k == 8) << "frame " << k;
  }
  EXPECT_FALSE(sorties[8].reglages.has_value());

  // The viewer's decoder: nothing before a record, bad records and bytes refused without
  // losing the stream, then every sample a picture of the size.
  DecodeurH264 dec;
  ImageDecodee image;
  EXPECT_FALSE(dec.decoder(sorties[0].octets.data(), sorties[0].octets.size(), image)) << "no record yet";
  for (const Octets& mauvais : {Octets{}, Octets{0, 1, 2}, Octets{2, 100, 0, 42, 0xFF, 0xE1, 0}})
    EXPECT_FALSE(dec.configurer(mauvais));
  ASSERT_TRUE(dec.configurer(r));
  const Octets dechet{0, 0, 0, 5, 0x41, 0xFF, 0xFF, 0xFF, 0xFF};
  dec.decoder(dechet.data(), dechet.size(), image);  // refused or concealed, never a crash
  EXPECT_FALSE(dec.decoder(nullptr, 0, image));
  ASSERT_TRUE(dec.configurer(r));
  for (const Livree& l : sorties) EXPECT_TRUE(dec.decoder(l.octets.data(), l.octets.size(), image));
  EXPECT_EQ(image.largeur, 320);
  EXPECT_EQ(image.hauteur, 192);
}

TEST_F(EncodeurTest, WrongSizedPicturesAreIgnoredOddSizesEncodeTheirEvenPart) {
  ASSERT_TRUE(enc.demarrer(161, 97, 400000, 30));
  brancher();
  const Image grande(320, 192, 0), im(160, 96, 0);
  ImageNV12 courte{161, 97, im.y.data(), 100, im.uv.data(), 160};
  for (const ImageNV12& mauvaise : {grande.vue(), ImageNV12{161, 97, nullptr, 161, nullptr, 161}, courte})
    enc.encoder(mauvaise, true);
  EXPECT_TRUE(sorties.empty());
  std::vector<std::uint8_t> y(161 * 97, 100), uv(161 * 49, 128);
  enc.encoder({161, 97, y.data(), 161, uv.data(), 161}, true);
  ASSERT_EQ(sorties.size(), 1u);
  EXPECT_TRUE(sorties[0].cle);
}

// A stop from another thread while frames arrive: nothing delivered after it, the handler
// cleared; a new session delivers its record again.
TEST_F(EncodeurTest, StopFromAnotherThreadWhileFramesArrive) {
  ASSERT_TRUE(enc.demarrer(160, 96, 400000, 30));
  std::atomic<int> livrees{0};
  enc.definirLivrer([&](Octets, bool, std::optional<Octets>) { livrees++; });
  const Image im(160, 96, 0);
  std::atomic<bool> fin{false};
  std::thread capture([&] {
    for (int n = 0; !fin; ++n) enc.encoder(im.vue(), n % 10 == 0);
  });
  while (livrees < 5) std::this_thread::yield();
  enc.arreter();
  const int apres = livrees;
  for (int k = 0; k < 3; ++k) std::this_thread::yield();
  fin = true;
  capture.join();
  EXPECT_FALSE(enc.vivant());
  EXPECT_EQ(livrees.load(), apres) << "nothing delivered once stopped";
  ASSERT_TRUE(enc.demarrer(160, 96, 400000, 30));
  enc.encoder(im.vue(), true);
  EXPECT_EQ(livrees.load(), apres) << "the handler has to be set again";
  brancher();
  enc.encoder(im.vue(), true);
  ASSERT_EQ(sorties.size(), 1u);
  EXPECT_TRUE(sorties[0].reglages.has_value());
}

// Average bit rate of `secondes` of noisy moving pictures, which no rate would encode well.
double debitProduit(Encodeur& enc, std::vector<Livree>& sorties, int debut, int images) {
  std::size_t octets = 0;
  const std::size_t avant = sorties.size();
  for (int n = debut; n < debut + images; ++n) enc.encoder(Image(320, 192, n, 64).vue(), false);
  for (std::size_t k = avant; k < sorties.size(); ++k) octets += sorties[k].octets.size();
  return octets * 8.0 * 30 / images;
}

TEST_F(EncodeurTest, ReglerChangesTheProducedRate) {
  ASSERT_TRUE(enc.demarrer(320, 192, 1000000, 30));
  brancher();
  enc.encoder(Image(320, 192, 0, 64).vue(), true);
  const double plein = debitProduit(enc, sorties, 1, 90);
  enc.regler(300000);
  debitProduit(enc, sorties, 91, 30);  // let the buffer settle
  const double bas = debitProduit(enc, sorties, 121, 90);
  enc.regler(1000000);
  debitProduit(enc, sorties, 211, 30);
  const double remonte = debitProduit(enc, sorties, 241, 90);
  EXPECT_NEAR(plein, 1000000, 250000);
  EXPECT_NEAR(bas, 300000, 90000);
  EXPECT_NEAR(remonte, 1000000, 250000);
}

TEST(LogiqueH264, StartingRateFromSizeAndQuality) {
  struct Cas { int l, h; double q; std::int64_t attendu; };
  for (const Cas& c : {Cas{1440, 900, 0.45, 2099520}, Cas{640, 360, 0.20, 400000}, Cas{2560, 1600, 0.90, 8000000}})
    EXPECT_EQ(debitDeDepart(c.l, c.h, c.q), c.attendu) << c.l << "x" << c.h;
}

TEST(LogiqueH264, DropOrder) {
  struct Cas {
    const char* nom;
    bool pret, vivant, rien, toutRenvoyer;
    std::int64_t debit, enVol;
    int muettesAvant;
    std::optional<bool> attendu;
    int sautees, muettes;
    bool renvoyerApres;
  };
  const Cas cas[] = {
      {"link not ready", false, true, false, true, 2000000, 0, 5, std::nullopt, 0, 5, true},
      {"encoder stopped", true, false, false, false, 2000000, 0, 5, std::nullopt, 0, 5, false},
      {"still frame skipped", true, true, true, false, 2000000, 0, 5, std::nullopt, 0, 6, false},
      {"thirtieth still frame skipped", true, true, true, false, 2000000, 0, 29, std::nullopt, 0, 30, false},
      {"thirty-first still frame encoded", true, true, true, false, 2000000, 0, 30, false, 0, 0, false},
      {"forced still frame encoded", true, true, true, true, 2000000, 0, 5, true, 0, 0, false},
      {"changed frame", true, true, false, false, 2000000, 0, 5, false, 0, 0, false},
      {"congestion drops, keeps the request", true, true, false, true, 2000000, 62501, 5, std::nullopt, 1, 0, true},
      {"a quarter second at the rate still goes", true, true, false, false, 2000000, 62500, 5, false, 0, 0, false},
      {"32000 bytes at least", true, true, false, false, 1023999, 32000, 5, false, 0, 0, false},
      {"above 32000 at a low rate", true, true, false, false, 1023999, 32001, 5, std::nullopt, 1, 0, false},
  };
  for (const Cas& c : cas) {
    EtatH264 e;
    e.debitActuel = c.debit;
    e.muettes = c.muettesAvant;
    e.toutRenvoyer = c.toutRenvoyer;
    e.octetsEnVol = c.enVol;
    EXPECT_EQ(deciderCapture(e, c.pret, c.vivant, c.rien), c.attendu) << c.nom;
    EXPECT_EQ(e.sautees.load(), c.sautees) << c.nom;
    EXPECT_EQ(e.muettes.load(), c.muettes) << c.nom;
    EXPECT_EQ(e.toutRenvoyer.load(), c.renvoyerApres) << c.nom;
  }
}

TEST(LogiqueH264, MeasurementFallsAndClimbs) {
  struct Pas { int sautees; std::optional<std::int64_t> attendu; };
  struct Cas { const char* nom; std::int64_t actuel, vise; std::vector<Pas> pas; };
  const Cas cas[] = {
      {"fall", 2000000, 2099520, {{3, 1400000}}},
      {"floor", 400000, 2099520, {{5, 300000}, {3, 300000}}},
      {"climb to the target and stay", 1400000, 2099520,
       {{0, std::nullopt}, {2, 1750000}, {0, std::nullopt}, {1, 2099520}, {0, std::nullopt}, {0, std::nullopt}}},
      {"a fall resets the calm count", 1000000, 2000000, {{0, std::nullopt}, {4, 700000}, {0, std::nullopt}, {0, 875000}}},
  };
  for (const Cas& c : cas) {
    EtatH264 e;
    e.debitActuel = c.actuel;
    e.debitVise = c.vise;
    MesureDebit m;
    for (std::size_t k = 0; k < c.pas.size(); ++k) {
      e.sautees = c.pas[k].sautees;
      EXPECT_EQ(m.pas(e), c.pas[k].attendu) << c.nom << " step " << k;
      EXPECT_EQ(e.sautees.load(), 0);
      EXPECT_EQ(e.debitActuel.load(), c.pas[k].attendu.value_or(e.debitActuel.load()));
    }
  }
}

constexpr int L = 320, H = 192;

// The viewer's link as the engine sees it: the headers, and the size of the V messages.
struct Lien : SortieVideo {
  std::atomic<bool> estPret{true};
  std::vector<std::string> entetes;
  std::size_t octetsV = 0;
  bool pret() const override { return estPret; }
  void envoyer(std::vector<std::uint8_t> m) override {
    std::string s(m.begin(), m.end());
    entetes.push_back(s.substr(0, s.find('\n')));
    if (s[0] == 'V') octetsV += m.size();
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

TEST(CoeurH264, OneCThenAKeyframeSentFromTheServersQueue) {
  auto lien = std::make_shared<Lien>();
  File fil;
  auto coeur = CoeurH264::creer(lien, fil.poster());
  ASSERT_TRUE(coeur->demarrer(L, H, 0.45));
  for (int n = 0; n < 3; ++n) coeur->capturee(Image(L, H, n).vue(), false);
  EXPECT_TRUE(lien->entetes.empty()) << "nothing is sent from the capture thread";
  // A request for a keyframe (a stall) repeats neither the record nor the C.
  coeur->etat().toutRenvoyer = true;
  coeur->capturee(Image(L, H, 3).vue(), true);
  fil.vider();
  ASSERT_EQ(lien->entetes.size(), 5u);
  EXPECT_EQ(lien->entetes[0].substr(0, 2), "C ");
  EXPECT_TRUE(lien->entetes[1].starts_with("V 320 192 ") && lien->entetes[1].ends_with(" 10 20 1")) << lien->entetes[1];
  std::string cles;
  for (std::size_t k = 1; k < 5; ++k) cles += lien->entetes[k].back();
  EXPECT_EQ(cles, "1001");
  EXPECT_EQ(coeur->images(), 4u);
  EXPECT_EQ(coeur->octets(), lien->octetsV);
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
  coeur->capturee(Image(L, H, 0).vue(), false);
  vu.lock()->estPret = false;
  coeur->capturee(Image(L, H, 1).vue(), false);
  fil.vider();
  EXPECT_TRUE(vu.lock()->entetes.empty()) << "frames for a viewer that went away are discarded";
  vu.lock()->estPret = true;
  coeur->capturee(Image(L, H, 2).vue(), false);
  auto garde = vu.lock();
  coeur.reset();
  fil.vider();
  EXPECT_TRUE(garde->entetes.empty());
}

}  // namespace
}  // namespace vimba
