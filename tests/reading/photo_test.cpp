// Screenshot rules without a display: sizes, fingerprint, files, replies, the fallback's
// outcomes, with a stand-in screen.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "reading/photo.h"
#include "tests/reading/commun.h"
#include "tests/reading/jpeg.h"

namespace vimba::photo {
namespace {

namespace fs = std::filesystem;

// A screen of one colour, or none at all.
class EcranEssai final : public Ecran {
public:
    bool permis = true, panne = false;
    std::uint8_t b = 10, g = 200, r = 30;
    int largeur = 320, hauteur = 200, x = 0, y = 0;
    bool lisible() override { return permis; }
    std::pair<int, int> taille() override { return {largeur, hauteur}; }
    std::pair<int, int> origine() override { return {x, y}; }
    std::optional<Image> saisir() override {
        if (panne) return std::nullopt;
        Image i{largeur, hauteur, largeur * 4, {}};
        i.pixels.resize(static_cast<std::size_t>(i.pas) * hauteur);
        for (std::size_t p = 0; p < i.pixels.size(); p += 4) {
            i.pixels[p] = b;
            i.pixels[p + 1] = g;
            i.pixels[p + 2] = r;
        }
        return i;
    }
};

TEST(Photo, tailleReduite) {
    struct Cas {
        int W, H, w, h;
    };
    for (auto c : {Cas{2880, 1800, 1440, 900}, Cas{3440, 1440, 1440, 603}, Cas{1280, 800, 1280, 800},
                   Cas{1920, 1080, 1440, 810}, Cas{1441, 3, 1440, 3}, Cas{2880, 1, 1440, 1}, Cas{0, 10, 0, 0}}) {
        EXPECT_EQ(tailleReduite(c.W, c.H), std::make_pair(c.w, c.h)) << c.W << "x" << c.H;
    }
}

TEST(Photo, empreinteEchantillonneLesGrandesImages) {
    // Bytes i % 251; the values come from a separate FNV-1a written from the rule: every
    // byte below 4000, every (n / 1000)-th from there, then the length.
    const std::pair<std::size_t, std::uint64_t> cas[] = {{0, 14695981039346656037ull},
                                                        {3, 15657232601398921515ull},
                                                        {3999, 4778971972495241266ull},
                                                        {4000, 11307080709271108125ull},
                                                        {5000, 13605729948747595165ull}};
    for (auto [n, attendu] : cas) {
        std::vector<std::uint8_t> o(n);
        for (std::size_t i = 0; i < n; ++i) o[i] = static_cast<std::uint8_t>(i % 251);
        EXPECT_EQ(empreinte(o.data(), n), attendu) << n;
    }
}

TEST(Photo, ecritLImageLaTailleEtRepondInchange) {
    essai::Dossier d;
    auto* ecran = new EcranEssai;
    ecran->largeur = 2000;
    ecran->hauteur = 1001;
    Photographe p(d.chemin, std::unique_ptr<Ecran>(ecran), {});
    const std::string r = p.capturer();
    ASSERT_EQ(r, "ok vue " + std::to_string(fs::file_size(d / "vue.jpg")));
    EXPECT_EQ(essai::lireFichier(d / "vue.txt"), "2000 1001\n");
    const essai::ImageJpeg j = essai::decoderJpeg(d / "vue.jpg");
    EXPECT_EQ(j.largeur, 1440);
    EXPECT_EQ(j.hauteur, 721);
    const auto c = j.pixel(700, 300);
    EXPECT_NEAR(c[0], 30, 6);
    EXPECT_NEAR(c[1], 200, 6);
    EXPECT_NEAR(c[2], 10, 6);

    EXPECT_EQ(p.capturer(), "ok inchange");
    ecran->g = 100;
    EXPECT_EQ(p.capturer().rfind("ok vue ", 0), 0u);
    // Once the picture is gone (the agent stopped), the same screen is written again.
    fs::remove(d / "vue.jpg");
    EXPECT_EQ(p.capturer().rfind("ok vue ", 0), 0u);
    EXPECT_TRUE(fs::exists(d / "vue.jpg"));
    // Nothing but the two files is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(d.chemin), fs::directory_iterator()), 2);
}

TEST(Photo, refusSansPermissionEtRienNeChange) {
    essai::Dossier d;
    auto* ecran = new EcranEssai;
    ecran->permis = false;
    Photographe p(d.chemin, std::unique_ptr<Ecran>(ecran), {{{"false"}}});
    EXPECT_EQ(p.capturer(), "refus autorisation d'écran non accordée");
    EXPECT_TRUE(fs::is_empty(d.chemin));
}

TEST(Photo, unLienPlanteNEstPasSuivi) {
    essai::Dossier d;
    const std::string cible = d / "ailleurs";
    std::ofstream(cible) << "intact";
    fs::create_symlink(cible, d / "vue.jpg");
    fs::create_symlink(cible, d / "vue.txt");
    Photographe p(d.chemin, std::make_unique<EcranEssai>(), {});
    EXPECT_EQ(p.capturer().rfind("ok vue ", 0), 0u);
    const essai::ImageJpeg j = essai::decoderJpeg(d / "vue.jpg");  // small enough to be kept as it is
    ASSERT_EQ(std::pair(j.largeur, j.hauteur), std::pair(320, 200));
    EXPECT_NEAR(j.pixel(300, 190)[1], 200, 6);
    EXPECT_EQ(essai::lireFichier(cible), "intact");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(d / "vue.jpg")));
}

TEST(Photo, echecDEcritureGardeLAncienneImage) {
    essai::Dossier d;
    Photographe p(d.chemin, std::make_unique<EcranEssai>(), {});
    ASSERT_EQ(p.capturer().rfind("ok vue ", 0), 0u);
    const std::string avant = essai::lireFichier(d / "vue.jpg");
    // A folder we cannot write into (root ignores modes, so take the folder away instead).
    Photographe q(d / "absent", std::make_unique<EcranEssai>(), {});
    EXPECT_EQ(q.capturer(), "erreur écriture image");
    EXPECT_EQ(essai::lireFichier(d / "vue.jpg"), avant);
}

TEST(Photo, repliQuandLEcranNeSePrendPas) {
    essai::Dossier d;
    auto* ecran = new EcranEssai;
    ecran->panne = true;
    std::ofstream(d / "vue.jpg") << "ancienne";
    {  // no tool leaves a picture
        Photographe p(d.chemin, std::unique_ptr<Ecran>(new EcranEssai(*ecran)), {{{"false"}}, {{"absent-de-partout", "{}"}}});
        EXPECT_EQ(p.capturer(), "erreur capture impossible");
        EXPECT_EQ(essai::lireFichier(d / "vue.jpg"), "ancienne");
    }
    {  // a tool that never ends (import waiting for a click) is stopped and the next one tried
        Photographe p(d.chemin, std::unique_ptr<Ecran>(new EcranEssai(*ecran)), {{{"sleep", "600"}}, {{"false"}}},
                      std::chrono::milliseconds(200));
        EXPECT_EQ(p.capturer(), "erreur capture impossible");
    }
    {  // the converter finds no picture in what the tool wrote
        Photographe p(d.chemin, std::unique_ptr<Ecran>(new EcranEssai(*ecran)), {{{"sh", "-c", "echo x > \"$0\"", "{}"}}});
        EXPECT_EQ(p.capturer(), "erreur réduction impossible");
        EXPECT_FALSE(fs::exists(d / "brut.png"));
        EXPECT_EQ(essai::lireFichier(d / "vue.jpg"), "ancienne");
    }
    {  // a tool that works, the second one in the list, taking two monitors: the main one
       // (blue, 2000 wide at 100,50) is kept, reduced to 1440 wide
        ecran->largeur = 2000;
        ecran->hauteur = 500;
        ecran->x = 100;
        ecran->y = 50;
        Photographe p(d.chemin, std::unique_ptr<Ecran>(ecran),
                      {{{"false"}},
                       {{"convert", "-size", "3000x1000", "xc:red", "-fill", "blue", "-draw", "rectangle 100,50 2099,549",
                         "png:{}"}}});
        const std::string r = p.capturer();
        EXPECT_EQ(r, "ok vue " + std::to_string(fs::file_size(d / "vue.jpg")) + " (par les outils du système)");
        EXPECT_FALSE(fs::exists(d / "brut.png"));
        EXPECT_EQ(essai::lireFichier(d / "vue.txt"), "2000 500\n");
        const essai::ImageJpeg j = essai::decoderJpeg(d / "vue.jpg");
        EXPECT_EQ(j.largeur, 1440);
        EXPECT_EQ(j.hauteur, 360);
        for (auto [x, y] : {std::pair{2, 2}, std::pair{1437, 357}}) {
            EXPECT_LT(j.pixel(x, y)[0], 40) << x;
            EXPECT_GT(j.pixel(x, y)[2], 200) << x;
        }
    }
}

}  // namespace
}  // namespace vimba::photo
