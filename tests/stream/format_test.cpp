// Wire bytes, tiles and fingerprints, the acceptance rule, the mask's verdict and the
// viewer's strict parser.
#include <gtest/gtest.h>

#include <string>

#include "stream/capteur_x11.h"
#include "stream/diffuseur.h"
#include "stream/format.h"
#include "stream/masque.h"
#include "stream/tuiles.h"
#include "tools/voir/lecteur.h"

using namespace vimba::flux;

namespace {
std::string texte(const std::vector<std::uint8_t>& v) { return {v.begin(), v.end()}; }

ImageBGRA uni(int l, int h, std::uint8_t gris) {
    return {l, h, l * 4, std::vector<std::uint8_t>(static_cast<std::size_t>(l) * h * 4, gris)};
}
}  // namespace

TEST(Format, EnTetesOctetPourOctet) {
    EXPECT_EQ(enTeteV(1440, 810, 12345, -1, 4, true), "V 1440 810 12345 -1 4 1\n");
    EXPECT_EQ(enTeteC(38), "C 38\n");
    std::vector<std::uint8_t> m, jpeg(5123, 0xab);
    ajouter(m, enTeteF(1440, 900, 1, 700, -1));
    ajouter(m, enTeteT(1408, 768, 32, 128, jpeg.size()), jpeg.data(), jpeg.size());
    EXPECT_EQ(texte(m), "F 1440 900 1 700 -1\nT 1408 768 32 128 5123\n" + std::string(5123, '\xab'));
    // Frame sizes: even, in the display's proportions (930.83 rounds to 931, made even).
    EXPECT_EQ(tailleImage(1441, 1920, 1080), std::make_pair(1440, 810));
    EXPECT_EQ(tailleImage(1440, 1728, 1117), std::make_pair(1440, 930));
}

TEST(Acceptation, TexteDuPair) {
    for (auto [t, ok] : std::vector<std::pair<std::string, bool>>{
             {"127.0.0.1", true}, {"::1", true}, {"localhost", true}, {"127.0.0.2", false},
             {"::ffff:127.0.0.1", false}, {"192.168.1.4", false}, {"::2", false}, {"", false}})
        EXPECT_EQ(pairAccepte(t), ok) << t;
}

TEST(Tuiles, SeulesLesTuilesTouchees) {
    const ImageBGRA image = uni(300, 200, 90);
    int n = -1;
    auto m = messageF(image, {}, true, 0.45, {5, 6}, nullptr, n);
    EXPECT_EQ(n, 6);  // 3 x 2
    EXPECT_EQ(texte(m).rfind("F 300 200 6 5 6\nT 0 0 128 128 ", 0), 0u);
    m = messageF(image, {}, false, 0.45, {5, 6}, nullptr, n);
    EXPECT_EQ(texte(m), "F 300 200 0 5 6\n");
    // Across the boundary between columns 1 and 2, row 1 only; the edge tiles are cut.
    m = messageF(image, {{250, 140, 20, 10}}, false, 0.45, {5, 6}, nullptr, n);
    EXPECT_EQ(n, 2);
    EXPECT_NE(texte(m).find("T 128 128 128 72 "), std::string::npos);
    EXPECT_NE(texte(m).find("T 256 128 44 72 "), std::string::npos);
}

TEST(Tuiles, Empreintes) {
    ImageBGRA image = uni(256, 128, 10);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint64_t> empreintes(2, 0);
    int n = 0;
    messageF(image, {}, true, 0.5, {0, 0}, &empreintes, n);
    messageF(image, {}, false, 0.5, {0, 0}, &empreintes, n);
    EXPECT_EQ(n, 0);
    // A whole row changed in the second tile: sampled every 109th byte, a row spans 512 bytes.
    for (int x = 128; x < 256; ++x) image.pixels[static_cast<std::size_t>(60 * image.pas + x * 4)] += 1;
    messageF(image, {}, false, 0.5, {0, 0}, &empreintes, n);
    EXPECT_EQ(n, 1);
}

namespace {
// A source that only counts the fresh frames it is asked for.
struct SourceComptee final : SourceImages {
    int rafraichis = 0;
    bool demarrer(int, int, SurImage, SurPixels) override { return true; }
    void arreter() override {}
    std::pair<int, int> taille() const override { return {0, 0}; }
    void rafraichir() override { ++rafraichis; }
};
}  // namespace

TEST(Masque, NoirTantQueLaFenetreDevantNestPasJugeeSure) {
    auto m = std::make_shared<EtatMasque>();
    auto compte = std::make_unique<SourceComptee>();
    SourceComptee* c = compte.get();
    auto source = sourceMasquee(std::move(compte), m);
    struct Cas {
        bool sensible;
        std::uint64_t jugee, vue;
        bool noir;
        int rafraichis;  // after this verdict
    };
    const std::uint64_t n = 5;
    EXPECT_FALSE(m->masque(&n)) << "never judged: the server alone is not masked";
    const Cas cas[] = {
        {false, 5, 5, false, 1},  // judged safe, still in front
        {false, 5, 6, true, 1},   // another window came in front, not judged yet
        {false, 5, 5, false, 1},  // the same verdict again wakes nothing
        {true, 6, 6, true, 2},    // judged sensitive
        {true, 6, 5, true, 2},
        {false, 5, 5, false, 3},
    };
    for (const auto& k : cas) {
        m->poser(k.sensible, k.jugee);
        EXPECT_EQ(m->masque(&k.vue), k.noir) << k.jugee << " " << k.vue;
        EXPECT_EQ(m->masque(nullptr), k.sensible) << "without a connection, the verdict alone";
        EXPECT_EQ(c->rafraichis, k.rafraichis) << k.jugee << " " << k.vue;
    }
    source.reset();
    m->poser(true, 9);  // a source gone is not woken
}

TEST(Lecteur, RefuseLesFluxMalFormes) {
    struct Cas { const char* nom; std::string flux; bool ok; int messages; };
    const std::vector<Cas> cas{
        {"battement", "F 10 10 0 -1 -1\n", true, 1},
        {"zéro de tête", "F 010 10 0 1 1\n", false, 0},
        {"plus", "F +10 10 0 1 1\n", false, 0},
        {"négatif hors pointeur", "F -10 10 0 1 1\n", false, 0},
        {"champ en trop", "F 10 10 0 1 1 1\n", false, 0},
        {"double espace", "F 10  10 0 1 1\n", false, 0},
        {"genre inconnu", "X 1\n", false, 0},
        {"tuile orpheline", "T 0 0 1 1 1\nx", false, 0},
        {"tuiles manquantes", "F 10 10 2 0 0\nT 0 0 1 1 1\nxF 10 10 0 0 0\n", false, 2},
        {"clé 2", "V 10 10 1 0 0 2\nx", false, 0},
        {"C et V", "C 2\nabV 10 10 1 0 0 1\nx", true, 2},
        {"charge courte", "C 10\nabc", true, 0},
        {"ligne sans fin", std::string(300, 'F'), false, 0},
        {"octet de contrôle", "F 10\t10 0 0 0\n", false, 0},
        // Out of range: nothing downstream may overflow an int or leave the picture.
        {"largeur nulle", "F 0 10 0 0 0\n", false, 0},
        {"trop large", "F 16385 10 0 0 0\n", false, 0},
        {"plus grande", "F 16384 16384 0 0 0\n", true, 1},
        {"pointeur démesuré", "F 10 10 0 999999999999 0\n", false, 0},
        {"plus de tuiles que de pixels", "F 2 2 5 0 0\n", false, 0},
        {"x de 2^32 - 64", "F 64 64 1 0 0\nT 4294967232 0 8 8 1\nx", false, 1},
        {"tuile au bord", "F 64 64 1 0 0\nT 56 60 8 4 1\nx", true, 2},
        {"tuile qui dépasse", "F 64 64 1 0 0\nT 57 0 8 8 1\nx", false, 1},
        {"tuile vide", "F 64 64 1 0 0\nT 0 0 0 8 1\nx", false, 1},
        {"tuile sans charge", "F 64 64 1 0 0\nT 0 0 8 8 0\n", false, 1},
        {"vidéo trop grande", "V 20000 10 1 0 0 1\nx", false, 0},
    };
    for (const auto& c : cas) {
        vimba::voir::Lecteur l;
        int recus = 0;
        EXPECT_EQ(l.nourrir(reinterpret_cast<const std::uint8_t*>(c.flux.data()), c.flux.size(), [&](auto&) { ++recus; }),
                  c.ok)
            << c.nom;
        EXPECT_EQ(recus, c.messages) << c.nom;
    }
}

TEST(Lecteur, ReconstruitUneImageDeTuilesEtRefuseCeQuiDeborde) {
    ImageBGRA image = uni(200, 130, 0);
    for (int y = 0; y < 130; ++y)
        for (int x = 0; x < 200; ++x) image.pixels[static_cast<std::size_t>(y * image.pas + x * 4 + 2)] = 220;  // red
    int n = 0;
    const auto m = messageF(image, {}, true, 0.9, {1, 2}, nullptr, n);
    vimba::voir::Lecteur l;
    vimba::voir::Tableau t;
    auto d = vimba::voir::decodeurTuiles();
    std::string erreur;
    // Fed one byte at a time: messages may arrive split anywhere.
    for (auto o : m)
        ASSERT_TRUE(l.nourrir(&o, 1, [&](const vimba::voir::Message& msg) { ASSERT_TRUE(d->traiter(msg, t, erreur)) << erreur; }));
    EXPECT_TRUE(l.entreDeux());
    ASSERT_EQ(t.largeur, 200);
    EXPECT_EQ(t.px, 1);
    EXPECT_NEAR(t.bgra[(129 * 200 + 199) * 4 + 2], 220, 4);
    EXPECT_NEAR(t.bgra[(129 * 200 + 199) * 4 + 1], 0, 4);
    // The decoder checks again what it is handed directly.
    ASSERT_TRUE(d->traiter({'F', {100, 100, 1, 0, 0}, {}}, t, erreur));
    for (const auto& champs : std::vector<std::vector<long long>>{{64, 0, 64, 64, 3}, {2147483521, 0, 8, 8, 3}, {-8, 0, 8, 8, 3},
                                                                  {0, 0, 64, 64, 3}})  // the last is not a JPEG
        EXPECT_FALSE(d->traiter({'T', champs, {1, 2, 3}}, t, erreur)) << champs[0];
    EXPECT_FALSE(d->traiter({'F', {0, 100, 0, 0, 0}, {}}, t, erreur));
    EXPECT_EQ(t.largeur, 100);
}
