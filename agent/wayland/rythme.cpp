#include "agent/wayland/rythme.h"

#include <X11/keysym.h>
#include <glib.h>

#include <thread>

#include "agent/linux/touches.h"

namespace vimba::wayland {

namespace {
constexpr std::chrono::milliseconds entreAvis{100};
constexpr std::chrono::milliseconds apresSautFocus{50};
}  // namespace

void pause(std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }

std::vector<std::uint32_t> symbolesDuTexte(const std::string& s) {
    std::vector<std::uint32_t> r;
    const char* p = s.data();
    const char* const fin = p + s.size();
    while (p < fin) {
        const gunichar c = g_utf8_get_char_validated(p, fin - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            ++p;
            continue;
        }
        r.push_back(c == U'\n' ? XK_Return : c == U'\t' ? XK_Tab : static_cast<std::uint32_t>(x11::keysymDe(c)));
        p = g_utf8_next_char(p);
    }
    return r;
}

void ecrireAvecAvis(const std::vector<std::uint32_t>& symboles, const std::function<bool()>& avant, const Frappe& f) {
    auto dernierAvis = std::chrono::steady_clock::now();
    bool apresSaut = false;
    std::uint64_t devant = f.devant();
    for (std::uint32_t s : symboles) {
        const bool saut = s == XK_Return || s == XK_Tab;
        if (apresSaut) {
            // The focus may have moved: let the application take the key before its focus
            // is asked about.
            f.synchroniser();
            pause(apresSautFocus);
        }
        const std::uint64_t fenetre = f.devant();
        if (saut || apresSaut || fenetre != devant || std::chrono::steady_clock::now() - dernierAvis >= entreAvis) {
            if (!avant()) break;
            dernierAvis = std::chrono::steady_clock::now();
            devant = fenetre;
        }
        apresSaut = saut;
        f.taper(s);
        pause(kApresCaractere);
    }
    f.synchroniser();
}

}  // namespace vimba::wayland
