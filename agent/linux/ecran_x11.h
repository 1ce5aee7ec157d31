#pragma once
// The main display on X11: the primary RandR monitor, whose top-left corner is the origin
// of every screen point the technician uses.
#include <X11/Xlib.h>

namespace vimba::x11 {

struct Moniteur {
    int x = 0, y = 0, largeur = 0, hauteur = 0;
};

// Primary monitor in root coordinates; the first active one, else the whole screen.
Moniteur moniteurPrincipal(Display* affichage);

}  // namespace vimba::x11
