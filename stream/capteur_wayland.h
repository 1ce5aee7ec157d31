#pragma once
// The Wayland capture source: the frames of the portal's screen stream (the same one the
// screenshot reads), changes found by comparing each frame with the one before, libyuv
// scaling, delivered on the source's own thread.
#include <memory>

#include "stream/moteur.h"
#include "stream/tuiles.h"

namespace vimba::flux {

std::unique_ptr<SourceImages> creerCapteurWayland();

// The polling engine's grab, from the same stream.
Saisie saisieWayland();

// The pointer in a picture of that size, from the stream's metadata; -1, -1 when the
// compositor does not send it (Xwayland's pointer only moves over X11 windows).
std::pair<int, int> pointeurWayland(int largeurImage, int hauteurImage);

// Rectangles where `nouvelle` differs from `ancienne` (same size, 4 bytes a pixel), one per
// band of `bande` rows, as wide as the changed columns of the band.
std::vector<Rect> differences(const ImageBGRA& ancienne, const ImageBGRA& nouvelle, int bande = 16);

}  // namespace vimba::flux
