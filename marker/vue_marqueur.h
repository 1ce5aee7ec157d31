#pragma once
// What the overlay shows (target, label, pulse phase, strokes) and how it is drawn with
// cairo and pango. Coordinates have their origin at the bottom-left, y upward. Main thread.
#include <cairo.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/services.h"

namespace vimba {

struct Zone {
    int x = 0, y = 0, largeur = 0, hauteur = 0;  // top-left origin, in surface pixels
};

class VueMarqueur {
public:
    VueMarqueur(double largeur, double hauteur) : largeur_(largeur), hauteur_(hauteur) {}

    Point point;  // (0, 0): no target
    std::string texte;
    double phase = 0;
    std::vector<std::vector<Point>> traits;
    // Family of the desktop's interface font; the label is always semibold, 17 pixels.
    std::string police = "Sans";

    void redimensionner(double largeur, double hauteur) { largeur_ = largeur, hauteur_ = hauteur; }
    double largeur() const { return largeur_; }
    double hauteur() const { return hauteur_; }

    // Draws everything over what is there; nothing fills the background.
    void dessiner(cairo_t* cr) const;
    // What changes from one pulse tick to the next: the ring's largest square, in surface pixels.
    Zone zoneAnneau() const;
    // The label box in view coordinates (left, bottom, width, height); false without a label.
    bool boiteEtiquette(double& x, double& y, double& l, double& h) const;

private:
    // The label is laid out once per change of its text, font or box, not on each pulse:
    // a long label would otherwise be laid out again 24 times a second.
    struct Mises;
    mutable std::shared_ptr<Mises> mises_;
    Mises& mises() const;

    double largeur_, hauteur_;
};

}  // namespace vimba
