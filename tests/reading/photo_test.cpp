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
    int largeur = 320, hauteur = 200;
    bool lisible() override { return permis; }
    std::pair<int, int> taille() override { return {largeur, hauteur}; }
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

struct Dossier {
    std::string chemin;
    Dossier() {
        char m[] = "/tmp/essai-vue-XXXXXX";
        chemin = mkdtemp(m);
    }
    ~Dossier() { fs::remove_all(chemin); }
    std::string operator/(const std::string& n) const { return chemin + "/" + n; }
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
    // Below 4000 bytes every byte counts; from 4000 on, only every (n / 1000)-th.
    for (std::size_t n : {3999u, 4000u}) {
        std::vector<std::uint8_t> a(n, 7);
        const auto base = empreinte(a.data(), n);
        auto b = a;
        b[1] ^= 1;
        EXPECT_EQ(empreinte(b.data(), n) != base, n == 3999) << n;
        b = a;
        b[3996] ^= 1;
        EXPECT_NE(empreinte(b.data(), n), base) << n;
    }
    std::vector<std::uint8_t> zeros(5000, 0);
    EXPECT_NE(empreinte(zeros.data(), 4999), empreinte(zeros.data(), 5000));
    EXPECT_EQ(empreinte(nullptr, 0), 14695981039346656037ull);
}

TEST(Photo, ecritLImageLaTailleEtRepondInchange) {
    Dossier d;
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
    Dossier d;
    auto* ecran = new EcranEssai;
    ecran->permis = false;
    Photographe p(d.chemin, std::unique_ptr<Ecran>(ecran), {{{"false"}}});
    EXPECT_EQ(p.capturer(), "refus autorisation d'écran non accordée");
    EXPECT_TRUE(fs::is_empty(d.chemin));
}

TEST(Photo, unLienPlanteNEstPasSuivi) {
    Dossier d;
    const std::string cible = d / "ailleurs";
    std::ofstream(cible) << "intact";
    fs::create_symlink(cible, d / "vue.jpg");
    fs::create_symlink(cible, d / "vue.txt");
    Photographe p(d.chemin, std::make_unique<EcranEssai>(), {});
    EXPECT_EQ(p.capturer().rfind("ok vue ", 0), 0u);
    EXPECT_EQ(essai::lireFichier(cible), "intact");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(d / "vue.jpg")));
}

TEST(Photo, echecDEcritureGardeLAncienneImage) {
    Dossier d;
    Photographe p(d.chemin, std::make_unique<EcranEssai>(), {});
    ASSERT_EQ(p.capturer().rfind("ok vue ", 0), 0u);
    const std::string avant = essai::lireFichier(d / "vue.jpg");
    // A folder we cannot write into (root ignores modes, so take the folder away instead).
    Photographe q(d / "absent", std::make_unique<EcranEssai>(), {});
    EXPECT_EQ(q.capturer(), "erreur écriture image");
    EXPECT_EQ(essai::lireFichier(d / "vue.jpg"), avant);
}

TEST(Photo, repliQuandLEcranNeSePrendPas) {
    Dossier d;
    auto* ecran = new EcranEssai;
    ecran->panne = true;
    std::ofstream(d / "vue.jpg") << "ancienne";
    {  // no tool leaves a picture
        Photographe p(d.chemin, std::unique_ptr<Ecran>(new EcranEssai(*ecran)), {{{"false"}}, {{"absent-de-partout", "{}"}}});
        EXPECT_EQ(p.capturer(), "erreur capture impossible");
        EXPECT_EQ(essai::lireFichier(d / "vue.jpg"), "ancienne");
    }
    {  // the converter finds no picture in what the tool wrote
        Photographe p(d.chemin, std::unique_ptr<Ecran>(new EcranEssai(*ecran)), {{{"sh", "-c", "echo x > \"$0\"", "{}"}}});
        EXPECT_EQ(p.capturer(), "erreur réduction impossible");
        EXPECT_FALSE(fs::exists(d / "brut.png"));
        EXPECT_EQ(essai::lireFichier(d / "vue.jpg"), "ancienne");
    }
    {  // a tool that works: the second one in the list
        Photographe p(d.chemin, std::unique_ptr<Ecran>(ecran),
                      {{{"false"}}, {{"convert", "-size", "3000x1000", "xc:red", "png:{}"}}});
        const std::string r = p.capturer();
        EXPECT_EQ(r, "ok vue " + std::to_string(fs::file_size(d / "vue.jpg")) + " (par les outils du système)");
        EXPECT_FALSE(fs::exists(d / "brut.png"));
        EXPECT_EQ(essai::lireFichier(d / "vue.txt"), "320 200\n");
        const essai::ImageJpeg j = essai::decoderJpeg(d / "vue.jpg");
        EXPECT_EQ(j.largeur, 1440);
        EXPECT_EQ(j.hauteur, 480);
        EXPECT_GT(j.pixel(10, 10)[0], 230);
    }
}

}  // namespace
}  // namespace vimba::photo
