#include "agent/wayland/saisie_wayland.h"

#include "agent/bureau.h"
#include "agent/wayland/gardes_wayland.h"
#include "agent/wayland/saisie_portail.h"
#include "agent/wayland/saisie_wlroots.h"

namespace vimba::wayland {

std::unique_ptr<Saisie> creerSaisieWayland() {
    const Compositeur c = bureauCourant().compositeur;
    // The window in front and its title, as the guards see them: typing asks again when
    // they change.
    auto devant = [gardes = std::make_shared<GardesWayland>()] { return gardes->cleDevant(); };
    // GNOME and KDE keep the virtual devices to themselves and offer the portal instead.
    if (c == Compositeur::Gnome || c == Compositeur::Kde) return std::make_unique<SaisiePortail>(canalDuPortail(), devant);
    if (auto s = SaisieWlroots::ouvrir(devant)) return s;
    if (c == Compositeur::Autre) return std::make_unique<SaisiePortail>(canalDuPortail(), devant);
    return nullptr;
}

}  // namespace vimba::wayland
