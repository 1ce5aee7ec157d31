#include <glib.h>

#include "agent/agent.h"
#include "agent/fabrique.h"

namespace vimba {

Services servicesDuSysteme(const std::string& dossier) {
    Services s;
    s.saisie = creerSaisie();
    s.gardes = creerGardes();
    s.permissions = creerPermissions();
    s.presse = creerPressePapiers();
    s.lecture = creerLecture();
    s.photographe = creerPhotographe(dossier);
    s.marqueur = creerMarqueur();
    s.diffuseur = creerDiffuseur();
    s.poster = [](std::function<void()> travail) {
        auto* t = new std::function<void()>(std::move(travail));
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer p) -> gboolean {
                (*static_cast<std::function<void()>*>(p))();
                return G_SOURCE_REMOVE;
            },
            t, [](gpointer p) { delete static_cast<std::function<void()>*>(p); });
    };
    s.pause = [](int ms) { g_usleep(static_cast<gulong>(ms) * 1000); };
    s.laisserTourner = [] {
        // Bounded: a source that is always ready must not keep the request waiting.
        for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
        }
    };
    return s;
}

Agent& agent() {
    static Agent* const unique = new Agent(servicesDuSysteme("/tmp/vimba-sos"));
    return *unique;
}

}  // namespace vimba
