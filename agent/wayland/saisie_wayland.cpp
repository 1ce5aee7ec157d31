#include "agent/wayland/saisie_wayland.h"

#include "agent/bureau.h"
#include "agent/wayland/saisie_portail.h"
#include "agent/wayland/saisie_wlroots.h"
#include "agent/wayland/sway.h"

namespace vimba::wayland {

std::unique_ptr<Saisie> creerSaisieWayland() {
    const Compositeur c = bureauCourant().compositeur;
    // GNOME and KDE keep the virtual devices to themselves and offer the portal instead.
    if (c == Compositeur::Gnome || c == Compositeur::Kde) return std::make_unique<SaisiePortail>(canalDuPortail());
    // sway's focused container tells a new window in front; other compositors say nothing,
    // and typing keeps its regular checks.
    auto devant = [] {
        auto f = fenetreFocaliseeSway();
        return f ? f->id : std::uint64_t{0};
    };
    if (auto s = SaisieWlroots::ouvrir(devant)) return s;
    if (c == Compositeur::Autre) return std::make_unique<SaisiePortail>(canalDuPortail());
    return nullptr;
}

}  // namespace vimba::wayland
