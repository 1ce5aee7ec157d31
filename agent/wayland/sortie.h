#pragma once
// The main output of a Wayland session. The command language's points are its logical
// pixels from its top-left corner, whatever its scale, as on X11 for the same layout.
// Asked afresh each time (outputs come and go, scales change); any thread.
#include <optional>
#include <string>
#include <vector>

namespace vimba::wayland {

struct Sortie {
    std::string nom;               // the connector, e.g. "HEADLESS-1", "eDP-1"
    int x = 0, y = 0;              // logical origin in the compositor's space
    int largeur = 0, hauteur = 0;  // logical size
    double echelle = 1;            // physical pixels per logical pixel (1.5, 2…)
    bool focalisee = false;        // holds the keyboard focus (sway)
};

// sway's focused output when sway answers, else the output at logical (0,0), else the first.
// None when no output can be read (no Wayland display).
std::optional<Sortie> sortiePrincipale();

// The same choice among outputs already read.
std::optional<Sortie> choisirPrincipale(const std::vector<Sortie>& sorties);
// Every active output from sway's GET_OUTPUTS reply.
std::vector<Sortie> sortiesDeSway(const std::string& json);
// Every output from the Wayland display itself (wl_output + xdg-output).
std::vector<Sortie> sortiesWayland();

}  // namespace vimba::wayland
