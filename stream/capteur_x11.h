#pragma once
// The X11 capture source: XShm grabs of the main monitor, changes from DAMAGE on the
// root window, libyuv scaling, delivered on the source's own thread.
#include <chrono>
#include <memory>

#include "stream/moteur.h"

namespace vimba::flux {

std::unique_ptr<SourceImages> creerCapteurX11();

// Waits, at most `limite`, for stopped capture threads to end: for a clean process exit.
void attendreCapteurs(std::chrono::milliseconds limite);

// Frame size for a wanted width: even width and height, proportions of the display.
std::pair<int, int> tailleImage(int largeur, int largeurEcran, int hauteurEcran);

}  // namespace vimba::flux
