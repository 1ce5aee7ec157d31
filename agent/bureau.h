#pragma once
// Which display system the session runs on, read once from the environment the desktop
// gave us. Each adapter factory picks its back end from this, so X11 stays exactly as it is.
#include <string>

namespace vimba {

enum class Affichage { X11, Wayland };
// The compositor family matters on Wayland only: which input and overlay routes exist.
enum class Compositeur { Autre, Wlroots, Gnome, Kde };

struct Bureau {
    Affichage affichage = Affichage::X11;
    Compositeur compositeur = Compositeur::Autre;
};

// From WAYLAND_DISPLAY / XDG_SESSION_TYPE, SWAYSOCK / XDG_CURRENT_DESKTOP. A variable holding
// "x11" wins over a stray WAYLAND_DISPLAY, and VIMBA_AFFICHAGE=x11|wayland overrides both.
Bureau bureauDe(const char* (*lire)(const char*));
const Bureau& bureauCourant();  // from this process's environment, read on first use

}  // namespace vimba
