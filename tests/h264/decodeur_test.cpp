#include "tools/voir/decodeur_h264.h"

#include <gtest/gtest.h>

#include "stream/h264/encodeur.h"

namespace vimba {
namespace {

// The viewer's decoder against bad input; its pictures are checked through the server's test.
TEST(DecodeurH264, RefusesBadInputWithoutLosingTheStream) {
  constexpr int L = 256, H = 144;
  Encodeur enc;
  std::vector<std::pair<Octets, std::optional<Octets>>> flux;
  ASSERT_TRUE(enc.demarrer(L, H, 2000000, 30));
  enc.definirLivrer([&](Octets o, bool, std::optional<Octets> r) { flux.emplace_back(std::move(o), std::move(r)); });
  std::vector<std::uint8_t> y(L * H), uv(L * H / 2, 128);
  for (int n = 0; n < 3; ++n) {
    for (int k = 0; k < L * H; ++k) y[k] = static_cast<std::uint8_t>(k % L + 3 * n);
    enc.encoder({L, H, y.data(), L, uv.data(), L}, n == 0);
  }
  ASSERT_EQ(flux.size(), 3u);
  DecodeurH264 dec;
  ImageDecodee image;
  EXPECT_FALSE(dec.decoder(flux[0].first.data(), flux[0].first.size(), image)) << "no record yet";
  for (const Octets& mauvais : {Octets{}, Octets{0, 1, 2}, Octets{2, 100, 0, 42, 0xFF, 0xE1, 0}})
    EXPECT_FALSE(dec.configurer(mauvais));
  ASSERT_TRUE(dec.configurer(*flux[0].second));
  const Octets dechet{0, 0, 0, 5, 0x41, 0xFF, 0xFF, 0xFF, 0xFF};
  dec.decoder(dechet.data(), dechet.size(), image);  // refused or concealed, never a crash
  EXPECT_FALSE(dec.decoder(nullptr, 0, image));
  ASSERT_TRUE(dec.configurer(*flux[0].second));
  for (const auto& [octets, _] : flux) EXPECT_TRUE(dec.decoder(octets.data(), octets.size(), image));
  EXPECT_EQ(image.largeur, L);
  EXPECT_EQ(image.hauteur, H);
}

}  // namespace
}  // namespace vimba
