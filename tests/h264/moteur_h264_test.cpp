#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "stream/moteur.h"
#include "tools/voir/decodeur_h264.h"

namespace vimba::flux {
namespace {

using namespace std::chrono_literals;

// A capture source that delivers a moving NV12 picture at about 60 per second on its own thread.
class SourceDouble : public SourceImages {
 public:
  SourceDouble(int l, int h, bool demarre) : l_(l), h_(h), demarre_(demarre) {}
  ~SourceDouble() override { arreter(); }
  bool demarrer(int, int, SurImage, SurPixels pixels) override {
    if (!demarre_) return false;
    fin_ = false;
    fil_ = std::thread([this, pixels] {
      std::vector<std::uint8_t> y(l_ * h_), uv(l_ * h_ / 2, 128);
      for (int n = 0; !fin_; ++n) {
        for (int k = 0; k < l_ * h_; ++k) y[k] = static_cast<std::uint8_t>((k % l_ + k / l_ + 2 * n) & 0xFF);
        pixels(PixelsNV12{l_, h_, y.data(), l_, uv.data(), l_}, {Rect{0, 0, l_, h_}});
        std::this_thread::sleep_for(16ms);
      }
    });
    return true;
  }
  void arreter() override {
    fin_ = true;
    if (fil_.joinable()) fil_.join();
  }
  std::pair<int, int> taille() const override { return {l_, h_}; }

 private:
  int l_, h_;
  bool demarre_;
  std::atomic<bool> fin_{false};
  std::thread fil_;
};

// The viewer's link with the server's thread as a queue the test runs.
class LienDouble : public Lien {
 public:
  std::atomic<bool> estPret{true};
  std::atomic<std::int64_t> enVolOctets{0};
  std::vector<std::vector<std::uint8_t>> messages;
  int trames = 0;
  bool pret() const override { return estPret; }
  void envoyer(std::vector<std::uint8_t> m) override { messages.push_back(std::move(m)); }
  int enVol() const override { return 0; }
  std::int64_t octetsEnVol() const override { return enVolOctets; }
  std::pair<int, int> pointeur(int, int) const override { return {5, 6}; }
  void trameEnvoyee(int, int) override { ++trames; }
  void poster(std::function<void()> t) override {
    std::lock_guard<std::mutex> g(verrou_);
    taches_.push_back(std::move(t));
  }
  // Runs the queued work until `fait` holds or 5 s went by.
  bool tourner(const std::function<bool()>& fait) {
    const auto limite = std::chrono::steady_clock::now() + 5s;
    while (!fait()) {
      if (std::chrono::steady_clock::now() > limite) return false;
      std::deque<std::function<void()>> lot;
      {
        std::lock_guard<std::mutex> g(verrou_);
        lot.swap(taches_);
      }
      if (lot.empty()) std::this_thread::sleep_for(2ms);
      for (auto& t : lot) t();
    }
    return true;
  }

 private:
  std::mutex verrou_;
  std::deque<std::function<void()>> taches_;
};

std::string entete(const std::vector<std::uint8_t>& m) {
  std::string s(m.begin(), m.end());
  return s.substr(0, s.find('\n'));
}

TEST(MoteurH264, FirstMessagesAreCThenAKeyframeThatDecodes) {
  LienDouble lien;
  auto moteur = creerMoteurH264({&lien, [] { return std::make_unique<SourceDouble>(320, 180, true); }, 320, 0.45});
  ASSERT_TRUE(moteur);
  EXPECT_EQ(moteur->nom(), "h264");
  ASSERT_TRUE(moteur->demarrer());
  ASSERT_TRUE(lien.tourner([&] { return lien.messages.size() >= 6; }));
  moteur->arreter();
  ASSERT_EQ(entete(lien.messages[0]).substr(0, 2), "C ");
  EXPECT_EQ(entete(lien.messages[1]).substr(0, 10), "V 320 180 ");
  EXPECT_EQ(entete(lien.messages[1]).back(), '1');

  // The payloads decode as the viewer decodes them.
  const auto charge = [](const std::vector<std::uint8_t>& m) {
    const auto fin = std::find(m.begin(), m.end(), '\n') + 1;
    return std::vector<std::uint8_t>(fin, m.end());
  };
  DecodeurH264 dec;
  ASSERT_TRUE(dec.configurer(charge(lien.messages[0])));
  for (std::size_t k = 1; k < lien.messages.size(); ++k) {
    ImageDecodee image;
    const auto v = charge(lien.messages[k]);
    EXPECT_TRUE(dec.decoder(v.data(), v.size(), image)) << k;
    EXPECT_EQ(image.largeur, 320);
  }
  EXPECT_EQ(moteur->images(), lien.messages.size() - 1);
  EXPECT_EQ(lien.trames, static_cast<int>(lien.messages.size() - 1));
}

TEST(MoteurH264, RefusesWhenTheSourceCannotStart) {
  LienDouble lien;
  auto refus = creerMoteurH264({&lien, [] { return std::make_unique<SourceDouble>(320, 180, false); }, 320, 0.45});
  EXPECT_FALSE(refus->demarrer());
  auto vide = creerMoteurH264({&lien, [] { return std::make_unique<SourceDouble>(0, 0, true); }, 320, 0.45});
  EXPECT_FALSE(vide->demarrer());
  EXPECT_FALSE(creerMoteurH264({nullptr, {}, 320, 0.45}));
}

}  // namespace
}  // namespace vimba::flux
