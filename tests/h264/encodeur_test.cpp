#include "stream/h264/encodeur.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(r[0], 1);
  EXPECT_EQ(r[1], 100) << "High profile";
  EXPECT_EQ(r[4] & 3, 3) << "4-byte lengths";
  for (std::size_t k = 0; k < sorties.size(); ++k) {
    std::vector<int> types;
    EXPECT_TRUE(decouper(sorties[k].octets, &types)) << "sample " << k;
    for (int t : types) EXPECT_NE(t, 7) << "no SPS inside samples";
    EXPECT_EQ(sorties[k].cle, k == 0 || k == 8) << "frame " << k;
  }
  EXPECT_FALSE(sorties[8].reglages.has_value());
}

TEST_F(EncodeurTest, StopClearsTheHandlerAndIgnoresLaterFrames) {
  ASSERT_TRUE(enc.demarrer(160, 96, 400000, 30));
  brancher();
  enc.encoder(Image(160, 96, 0).vue(), true);
  enc.arreter();
  EXPECT_FALSE(enc.vivant());
  enc.encoder(Image(160, 96, 1).vue(), true);
  EXPECT_EQ(sorties.size(), 1u);
  // A new session delivers its record again, and the handler has to be set again.
  ASSERT_TRUE(enc.demarrer(160, 96, 400000, 30));
  enc.encoder(Image(160, 96, 2).vue(), true);
  EXPECT_EQ(sorties.size(), 1u);
  brancher();
  enc.encoder(Image(160, 96, 3).vue(), true);
  ASSERT_EQ(sorties.size(), 2u);
  EXPECT_TRUE(sorties[1].reglages.has_value());
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

}  // namespace
}  // namespace vimba
