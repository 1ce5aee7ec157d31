#include "agent/bureau.h"

#include <cstdlib>
#include <string_view>

namespace vimba {

namespace {

std::string_view valeur(const char* (*lire)(const char*), const char* nom) {
    const char* v = lire(nom);
    return v ? std::string_view(v) : std::string_view();
}

bool contientMot(std::string_view liste, std::string_view mot) {
    // XDG_CURRENT_DESKTOP is a colon-separated list such as "ubuntu:GNOME".
    while (!liste.empty()) {
        auto fin = liste.find(':');
        auto partie = liste.substr(0, fin);
        if (partie.size() == mot.size()) {
            bool egal = true;
            for (std::size_t i = 0; i < mot.size() && egal; ++i)
                egal = (partie[i] | 0x20) == (mot[i] | 0x20);
            if (egal) return true;
        }
        if (fin == std::string_view::npos) break;
        liste.remove_prefix(fin + 1);
    }
    return false;
}

}  // namespace

Bureau bureauDe(const char* (*lire)(const char*)) {
    Bureau b;
    auto force = valeur(lire, "VIMBA_AFFICHAGE");
    auto type = valeur(lire, "XDG_SESSION_TYPE");
    if (force == "wayland")
        b.affichage = Affichage::Wayland;
    else if (force == "x11" || type == "x11")
        b.affichage = Affichage::X11;
    else if (type == "wayland" || !valeur(lire, "WAYLAND_DISPLAY").empty())
        b.affichage = Affichage::Wayland;
    if (b.affichage == Affichage::X11) return b;

    auto bureau = valeur(lire, "XDG_CURRENT_DESKTOP");
    if (!valeur(lire, "SWAYSOCK").empty() || contientMot(bureau, "sway") || contientMot(bureau, "wlroots") ||
        contientMot(bureau, "Hyprland") || contientMot(bureau, "river") || contientMot(bureau, "labwc"))
        b.compositeur = Compositeur::Wlroots;
    else if (contientMot(bureau, "GNOME"))
        b.compositeur = Compositeur::Gnome;
    else if (contientMot(bureau, "KDE"))
        b.compositeur = Compositeur::Kde;
    return b;
}

const Bureau& bureauCourant() {
    static const Bureau b = bureauDe([](const char* nom) -> const char* { return std::getenv(nom); });
    return b;
}

}  // namespace vimba
