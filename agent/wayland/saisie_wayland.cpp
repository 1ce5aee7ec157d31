#include "agent/wayland/saisie_wayland.h"

#include "agent/bureau.h"
#include "agent/wayland/saisie_wlroots.h"
#include "agent/wayland/sway.h"

namespace vimba::wayland {

std::unique_ptr<Saisie> creerSaisieWayland() {
    if (bureauCourant().compositeur == Compositeur::Wlroots) {
        // sway's focused container; other wlroots compositors say nothing, and the typing
        // falls back on its regular checks.
        auto devant = [] {
            auto f = fenetreFocaliseeSway();
            return f ? f->id : std::uint64_t{0};
        };
        if (auto s = SaisieWlroots::ouvrir(devant)) return s;
    }
    return nullptr;
}

}  // namespace vimba::wayland
