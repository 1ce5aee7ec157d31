#include "agent/linux/ecran_x11.h"

#include <X11/extensions/Xrandr.h>

namespace vimba::x11 {

Moniteur moniteurPrincipal(Display* affichage) {
    const Window racine = DefaultRootWindow(affichage);
    Moniteur m{0, 0, DisplayWidth(affichage, DefaultScreen(affichage)), DisplayHeight(affichage, DefaultScreen(affichage))};
    int ev, err;
    if (!XRRQueryExtension(affichage, &ev, &err)) return m;
    int n = 0;
    XRRMonitorInfo* moniteurs = XRRGetMonitors(affichage, racine, True, &n);
    if (!moniteurs) return m;
    int choisi = n > 0 ? 0 : -1;
    for (int i = 0; i < n; ++i)
        if (moniteurs[i].primary) choisi = i;
    if (choisi >= 0) m = {moniteurs[choisi].x, moniteurs[choisi].y, moniteurs[choisi].width, moniteurs[choisi].height};
    XRRFreeMonitors(moniteurs);
    return m;
}

}  // namespace vimba::x11
