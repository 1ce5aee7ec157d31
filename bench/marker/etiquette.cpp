// Drawing cost of a pulsing target with a very long label (170 KB): the view drawn 24 times
// as the overlay does each second, against the same draws with the label laid out anew each
// time (a fresh view per draw, as before the layout was kept), and against a short label.
// Off-screen, no display needed.
#include <cairo.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "marker/vue_marqueur.h"

namespace {

double dessiner(const std::string& texte, int fois, bool neuve) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1920, 1080);
    vimba::VueMarqueur gardee(1920, 1080);
    gardee.point = {960, 540};
    gardee.texte = texte;
    if (!neuve) {
        // The one layout after a change is not what the pulse repeats.
        cairo_t* cr = cairo_create(s);
        gardee.dessiner(cr);
        cairo_destroy(cr);
    }
    const auto debut = std::chrono::steady_clock::now();
    for (int i = 0; i < fois; ++i) {
        vimba::VueMarqueur fraiche(1920, 1080);
        vimba::VueMarqueur& v = neuve ? fraiche : gardee;
        v.point = {960, 540};
        v.texte = texte;
        v.phase = i / 24.0;
        cairo_t* cr = cairo_create(s);
        v.dessiner(cr);
        cairo_destroy(cr);
    }
    cairo_surface_destroy(s);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - debut).count() / fois;
}

}  // namespace

int main(int argc, char** argv) {
    const int fois = argc > 1 ? std::atoi(argv[1]) : 24;
    std::string long_;
    while (long_.size() < 170000) long_ += "Cliquez ici pour continuer, puis choisissez « Enregistrer sous… » ";
    const double court = dessiner("Cliquez ici pour continuer", fois, false);
    const double garde = dessiner(long_, fois, false);
    const double refaite = dessiner(long_, std::max(1, fois / 4), true);
    std::printf("étiquette de %zu octets, %d dessins\n", long_.size(), fois);
    std::printf("par dessin : étiquette courte %.2f ms, longue mise en page une fois %.2f ms, refaite à chaque dessin %.2f ms\n",
                court, garde, refaite);
    std::printf("rapport gardée / refaite : %.4f ; gardée / courte : %.2f\n", garde / refaite, garde / court);
}
