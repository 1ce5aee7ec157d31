#include "tools/voir/decodeur_h264.h"

#include <gtest/gtest.h>

#include <cmath>
#include <libyuv.h>

#include "stream/h264/encodeur.h"

namespace vimba {
namespace {

constexpr int L = 256, H = 144;

// A BGRA desktop-like picture: panels, a coloured band and a moving box.
std::vector<std::uint8_t> bureau(int n) {
  std::vector<std::uint8_t> p(L * H * 4);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < L; ++x) {
      std::uint8_t* q = &p[(y * L + x) * 4];
      const bool boite = x >= 20 + n * 3 && x < 60 + n * 3 && y >= 40 && y < 80;
      q[0] = boite ? 40 : static_cast<std::uint8_t>(x < 50 ? 200 : 240);
      q[1] = boite ? 160 : static_cast<std::uint8_t>(y < 20 ? 120 : 240);
      q[2] = boite ? 220 : static_cast<std::uint8_t>(y < 20 ? 30 : 235);
      q[3] = 255;
    }
  return p;
}

// Encodes BGRA pictures the way the capture path hands them over (J420, full range).
std::vector<std::pair<Octets, std::optional<Octets>>> encoder(const std::vector<std::vector<std::uint8_t>>& images) {
  Encodeur enc;
  std::vector<std::pair<Octets, std::optional<Octets>>> sortie;
  EXPECT_TRUE(enc.demarrer(L, H, 2000000, 30));
  enc.definirLivrer([&](Octets o, bool, std::optional<Octets> r) { sortie.emplace_back(std::move(o), std::move(r)); });
  std::vector<std::uint8_t> y(L * H), u(L * H / 4), v(L * H / 4), uv(L * H / 2);
  for (std::size_t n = 0; n < images.size(); ++n) {
    libyuv::ARGBToJ420(images[n].data(), L * 4, y.data(), L, u.data(), L / 2, v.data(), L / 2, L, H);
    libyuv::MergeUVPlane(u.data(), L / 2, v.data(), L / 2, uv.data(), L, L / 2, H / 2);
    enc.encoder({L, H, y.data(), L, uv.data(), L}, n == 0);
  }
  return sortie;
}

double psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  double se = 0;
  std::size_t n = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (k % 4 == 3) continue;
    const double d = double(a[k]) - b[k];
    se += d * d;
    ++n;
  }
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * n / se);
}

TEST(DecodeurH264, GivesBackTheColoursOfEveryFrame) {
  std::vector<std::vector<std::uint8_t>> images;
  for (int n = 0; n < 10; ++n) images.push_back(bureau(n));
  const auto flux = encoder(images);
  ASSERT_EQ(flux.size(), images.size());
  DecodeurH264 dec;
  ASSERT_TRUE(flux[0].second.has_value());
  ASSERT_TRUE(dec.configurer(*flux[0].second));
  for (std::size_t n = 0; n < flux.size(); ++n) {
    ImageDecodee image;
    ASSERT_TRUE(dec.decoder(flux[n].first.data(), flux[n].first.size(), image)) << "frame " << n;
    EXPECT_EQ(image.largeur, L);
    EXPECT_EQ(image.hauteur, H);
    EXPECT_GE(psnr(image.bgra, images[n]), 30.0) << "frame " << n;
  }
}

TEST(DecodeurH264, RefusesBadInputWithoutLosingTheStream) {
  const auto flux = encoder({bureau(0), bureau(1), bureau(2)});
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
}

}  // namespace
}  // namespace vimba
