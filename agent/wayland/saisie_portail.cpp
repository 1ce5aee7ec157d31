#include "agent/wayland/saisie_portail.h"

#include <X11/keysym.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "agent/linux/touches.h"
#include "agent/wayland/portail.h"
#include "agent/wayland/rythme.h"
#include "agent/wayland/sortie.h"

namespace vimba::wayland {

SaisiePortail::SaisiePortail(std::unique_ptr<CanalPortail> canal, std::function<std::uint64_t()> devant)
    : canal_(std::move(canal)), devant_(std::move(devant)) {}

// The portal takes points in the stream's frame: a point of the main output moves by the
// offset between the two, and stops at the frame's edge.
void SaisiePortail::deplacer(double x, double y) {
    const auto flux = canal_->flux();
    if (!flux) return;
    const auto principale = canal_->principale().value_or(CanalPortail::Cadre{flux->x, flux->y});
    auto axe = [](double v, int origine, int debut, int taille) {
        if (std::isnan(v)) v = 0;
        const double r = std::floor(v) + origine - debut;
        return taille > 0 ? std::clamp(r, 0.0, taille - 1.0) : std::max(r, 0.0);
    };
    canal_->pointeurAbsolu(axe(x, principale.x, flux->x, flux->largeur), axe(y, principale.y, flux->y, flux->hauteur));
}

void SaisiePortail::cliquer(double x, double y, bool double_, bool droit) {
    deplacer(x, y);
    canal_->vider();
    pause(kApresDeplacement);
    // The compositor counts the clicks: two presses close in time and place are a double click.
    const int code = droit ? BTN_RIGHT : BTN_LEFT;
    for (int n = 0; n < (double_ ? 2 : 1); ++n) {
        canal_->bouton(code, true);
        pause(kEnfoncementBouton);
        canal_->bouton(code, false);
        if (double_) pause(kApresClicDouble);
    }
    canal_->vider();
}

void SaisiePortail::bouger(double x, double y) {
    deplacer(x, y);
    canal_->vider();
}

void SaisiePortail::defiler(double x, double y, std::int32_t lignes) {
    deplacer(x, y);
    // Positive is up, which the portal counts as negative steps; one event per wheel click.
    const int sens = lignes > 0 ? -1 : 1;
    const std::int64_t crans = std::min<std::int64_t>(std::abs(static_cast<std::int64_t>(lignes)), kCransMaximum);
    for (std::int64_t i = 0; i < crans; ++i) canal_->defilerDiscret(sens);
    canal_->vider();
}

void SaisiePortail::ecrire(const std::string& texte, const std::function<bool()>& avant) {
    const auto carte = canal_->symbolesDeLaCarte();
    auto taper = [this](std::uint32_t s) {
        canal_->toucheSymbole(s, true);
        canal_->toucheSymbole(s, false);
    };
    ecrireAvecAvis(symbolesDuTexte(texte), avant,
                   {devant_, [this] { canal_->vider(); },
                    [&](std::uint32_t s) {
                        if (s == 0) return;
                        const std::uint32_t point = xkb_keysym_to_utf32(s);
                        if (!carte || carte->count(s) || point == 0) return taper(s);
                        canal_->toucheSymbole(XK_Control_L, true);
                        canal_->toucheSymbole(XK_Shift_L, true);
                        taper(XK_u);
                        canal_->toucheSymbole(XK_Shift_L, false);
                        canal_->toucheSymbole(XK_Control_L, false);
                        char hex[16];
                        std::snprintf(hex, sizeof hex, "%x", point);
                        for (const char* c = hex; *c; ++c) taper(static_cast<unsigned char>(*c));  // ASCII keysyms are their code
                        taper(XK_space);
                    }});
}

bool SaisiePortail::frapper(const std::string& mot) {
    const auto combinaison = x11::lireCombinaison(mot);
    if (!combinaison) return false;
    // The modifier keys go down first and come up last, in reverse order.
    std::vector<std::uint32_t> modificateurs;
    for (auto [m, s] : {std::pair<unsigned, std::uint32_t>{x11::Controle, XK_Control_L}, {x11::Alt, XK_Alt_L},
                        {x11::Majuscule, XK_Shift_L}})
        if (combinaison->modificateurs & m) modificateurs.push_back(s);
    for (std::uint32_t m : modificateurs) canal_->toucheSymbole(m, true);
    canal_->toucheSymbole(static_cast<std::uint32_t>(combinaison->touche), true);
    canal_->vider();
    pause(kEnfoncementTouche);
    canal_->toucheSymbole(static_cast<std::uint32_t>(combinaison->touche), false);
    for (auto m = modificateurs.rbegin(); m != modificateurs.rend(); ++m) canal_->toucheSymbole(*m, false);
    canal_->vider();
    return true;
}

namespace {

// The process's portal session; events are dropped while its input is not granted, as the
// user has not allowed them yet.
class CanalReel final : public CanalPortail {
public:
    std::optional<Cadre> flux() override {
        if (!p().saisieAccordee()) return std::nullopt;
        const auto f = p().flux();
        if (!f) return Cadre{};
        return Cadre{f->x, f->y, f->largeur, f->hauteur};
    }
    std::optional<Cadre> principale() override {
        const auto s = sortiePrincipale();
        if (!s) return std::nullopt;
        return Cadre{s->x, s->y, s->largeur, s->hauteur};
    }
    void pointeurAbsolu(double x, double y) override { p().pointeurAbsolu(x, y); }
    void bouton(int code, bool presse) override { p().bouton(code, presse); }
    void defilerDiscret(int crans) override { p().defilerDiscret(0, crans); }
    void toucheSymbole(std::uint32_t keysym, bool presse) override { p().toucheSymbole(keysym, presse); }
    void vider() override { p().vider(); }

    // Read again for each text: the user may switch layouts. The seat's keyboard sends its
    // keymap to any client, focused or not.
    std::optional<std::unordered_set<std::uint32_t>> symbolesDeLaCarte() override {
        wl_display* d = wl_display_connect(nullptr);
        if (!d) return std::nullopt;
        struct Lu {
            wl_seat* siege = nullptr;
            wl_keyboard* clavier = nullptr;
            std::string texte;
        } lu;
        static const wl_keyboard_listener ecouteClavier = {
            [](void* p, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t taille) {
                if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
                    void* m = mmap(nullptr, taille, PROT_READ, MAP_PRIVATE, fd, 0);
                    if (m != MAP_FAILED) {
                        static_cast<Lu*>(p)->texte.assign(static_cast<const char*>(m), strnlen(static_cast<const char*>(m), taille));
                        munmap(m, taille);
                    }
                }
                close(fd);
            },
            [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
            [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
            [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
            [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
            [](void*, wl_keyboard*, std::int32_t, std::int32_t) {}};
        static const wl_seat_listener ecouteSiege = {
            [](void* p, wl_seat* s, std::uint32_t capacites) {
                auto* l = static_cast<Lu*>(p);
                if ((capacites & WL_SEAT_CAPABILITY_KEYBOARD) && !l->clavier) {
                    l->clavier = wl_seat_get_keyboard(s);
                    wl_keyboard_add_listener(l->clavier, &ecouteClavier, l);
                }
            },
            [](void*, wl_seat*, const char*) {}};
        static const wl_registry_listener ecoute = {
            [](void* p, wl_registry* r, std::uint32_t nom, const char* interface, std::uint32_t) {
                auto* l = static_cast<Lu*>(p);
                if (std::strcmp(interface, wl_seat_interface.name) == 0 && !l->siege) {
                    l->siege = static_cast<wl_seat*>(wl_registry_bind(r, nom, &wl_seat_interface, 1));
                    wl_seat_add_listener(l->siege, &ecouteSiege, l);
                }
            },
            [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry* r = wl_display_get_registry(d);
        wl_registry_add_listener(r, &ecoute, &lu);
        for (int i = 0; i < 3; ++i) wl_display_roundtrip(d);
        if (lu.clavier) wl_keyboard_destroy(lu.clavier);
        if (lu.siege) wl_seat_destroy(lu.siege);
        wl_registry_destroy(r);
        wl_display_disconnect(d);
        if (lu.texte.empty()) return std::nullopt;

        std::optional<std::unordered_set<std::uint32_t>> symboles;
        xkb_context* c = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap* k = c ? xkb_keymap_new_from_string(c, lu.texte.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
        if (k) {
            symboles.emplace();
            for (xkb_keycode_t kc = xkb_keymap_min_keycode(k); kc <= xkb_keymap_max_keycode(k); ++kc)
                for (xkb_level_index_t n = 0; n < xkb_keymap_num_levels_for_key(k, kc, 0); ++n) {
                    const xkb_keysym_t* s = nullptr;
                    const int nb = xkb_keymap_key_get_syms_by_level(k, kc, 0, n, &s);
                    for (int i = 0; i < nb; ++i) symboles->insert(s[i]);
                }
            xkb_keymap_unref(k);
        }
        if (c) xkb_context_unref(c);
        return symboles;
    }

private:
    static Portail& p() { return Portail::commun(); }
};

}  // namespace

std::unique_ptr<CanalPortail> canalDuPortail() { return std::make_unique<CanalReel>(); }

}  // namespace vimba::wayland
