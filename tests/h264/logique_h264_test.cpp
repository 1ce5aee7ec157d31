#include "stream/h264/logique_h264.h"

#include <gtest/gtest.h>

namespace vimba {
namespace {

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

struct SortieDouble : SortieVideo {
  bool estPret = true;
  std::vector<std::string> messages;
  bool pret() const override { return estPret; }
  void envoyer(std::vector<std::uint8_t> m) override { messages.emplace_back(m.begin(), m.end()); }
  std::pair<int, int> pointeur() const override { return {101, 700}; }
};

TEST(LogiqueH264, RecordGoesAsCImmediatelyBeforeItsKeyframe) {
  SortieDouble s;
  const std::vector<std::uint8_t> trame{0, 0, 0, 2, 0x65, 0x88};
  const std::vector<std::uint8_t> avcc{1, 100, 0, 42};
  EXPECT_EQ(envoyerVideo(s, 1440, 900, trame, true, avcc), 23u + trame.size());
  EXPECT_EQ(envoyerVideo(s, 1440, 900, trame, false, std::nullopt), 23u + trame.size());
  ASSERT_EQ(s.messages.size(), 3u);
  EXPECT_EQ(s.messages[0], std::string("C 4\n") + std::string(avcc.begin(), avcc.end()));
  EXPECT_EQ(s.messages[1], std::string("V 1440 900 6 101 700 1\n") + std::string(trame.begin(), trame.end()));
  EXPECT_EQ(s.messages[2].substr(0, 23), "V 1440 900 6 101 700 0\n");
  s.estPret = false;
  EXPECT_EQ(envoyerVideo(s, 1440, 900, trame, true, avcc), 0u);
  EXPECT_EQ(s.messages.size(), 3u);
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

}  // namespace
}  // namespace vimba
