// Screenshots of a real X server: a known pattern drawn on screen is found at the right
// place in the decoded "vue.jpg", taken in process and through the system's tools.
#include <gtest/gtest.h>
// After gtest: Xlib defines macros that clash with it.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <filesystem>

#include "agent/fabrique.h"
#include "reading/photo.h"
#include "tests/reading/commun.h"
#include "tests/reading/jpeg.h"

namespace vimba {
namespace {

namespace fs = std::filesystem;

constexpr std::array<unsigned long, 4> couleurs = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff};

// Four solid quadrants over the whole screen, each colour above.
class Motif {
public:
    explicit Motif(Display* d) : d_(d) {
        largeur_ = DisplayWidth(d, DefaultScreen(d));
        hauteur_ = DisplayHeight(d, DefaultScreen(d));
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = 0;
        fenetre_ = XCreateWindow(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(largeur_),
                                 static_cast<unsigned>(hauteur_), 0, CopyFromParent, InputOutput, CopyFromParent,
                                 CWOverrideRedirect | CWBackPixel, &a);
        for (int q = 0; q < 4; ++q) {
            a.background_pixel = couleurs[q];
            Window w = XCreateWindow(d, fenetre_, (q % 2) * largeur_ / 2, (q / 2) * hauteur_ / 2,
                                     static_cast<unsigned>(largeur_ / 2), static_cast<unsigned>(hauteur_ / 2), 0,
                                     CopyFromParent, InputOutput, CopyFromParent, CWBackPixel, &a);
            XMapWindow(d, w);
        }
        XMapRaised(d, fenetre_);
        XSync(d, False);
        // Shown once the last quadrant's colour is on screen.
        essai::attendreQue([&] {
            XImage* i = XGetImage(d, DefaultRootWindow(d), largeur_ * 3 / 4, hauteur_ * 3 / 4, 1, 1, AllPlanes, ZPixmap);
            const bool ok = i && (XGetPixel(i, 0, 0) & 0xffffff) == couleurs[3];
            if (i) XDestroyImage(i);
            return ok;
        });
    }
    ~Motif() {
        XDestroyWindow(d_, fenetre_);
        XSync(d_, False);
    }
    int largeur() const { return largeur_; }
    int hauteur() const { return hauteur_; }

private:
    Display* d_;
    Window fenetre_;
    int largeur_ = 0, hauteur_ = 0;
};

// The pixel's colour with each channel rounded to full or nothing.
unsigned long couleurNette(const essai::ImageJpeg& j, int x, int y) {
    const auto p = j.pixel(x, y);
    return (p[0] > 127 ? 0xff0000ul : 0) | (p[1] > 127 ? 0xff00ul : 0) | (p[2] > 127 ? 0xfful : 0);
}

// The quadrants are where they were drawn, and the sizes are the display's.
void verifier(const essai::Dossier& d, int W, int H) {
    const auto [w, h] = photo::tailleReduite(W, H);
    EXPECT_EQ(essai::lireFichier(d / "vue.txt"), std::to_string(W) + " " + std::to_string(H) + "\n");
    const essai::ImageJpeg j = essai::decoderJpeg(d / "vue.jpg");
    ASSERT_EQ(j.largeur, w);
    ASSERT_EQ(j.hauteur, h);
    for (int q = 0; q < 4; ++q) EXPECT_EQ(couleurNette(j, (q % 2) * w / 2 + w / 4, (q / 2) * h / 2 + h / 4), couleurs[q]) << q;
}

// The in-process way failing: the system's tools take the picture.
class EcranEnPanne final : public photo::Ecran {
public:
    std::unique_ptr<photo::Ecran> vrai = photo::ecranX11();
    bool lisible() override { return vrai->lisible(); }
    std::pair<int, int> taille() override { return vrai->taille(); }
    std::optional<photo::Image> saisir() override { return std::nullopt; }
};

// The shared display (scripts/avec-bureau.sh), reduced; the screen taken both ways.
TEST(VueBureau, lesQuadrantsALeurPlace) {
    Display* x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    {
        Motif m(x);
        essai::Dossier d;
        auto p = creerPhotographe(d.chemin);
        const std::string r = p->capturer();
        EXPECT_EQ(r, "ok vue " + std::to_string(fs::file_size(d / "vue.jpg")));
        verifier(d, m.largeur(), m.hauteur());
        EXPECT_EQ(p->capturer(), "ok inchange");  // the same screen grabbed again is the same picture
        essai::Dossier o;
        photo::Photographe q(o.chemin, std::make_unique<EcranEnPanne>(), photo::outilsDuSysteme());
        const std::string parOutils = q.capturer();
        EXPECT_EQ(parOutils, "ok vue " + std::to_string(fs::file_size(o / "vue.jpg")) + " (par les outils du système)");
        verifier(o, m.largeur(), m.hauteur());
    }
    XCloseDisplay(x);
}

}  // namespace
}  // namespace vimba
