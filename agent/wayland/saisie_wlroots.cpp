#include "agent/wayland/saisie_wlroots.h"

#include <X11/keysym.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "agent/linux/touches.h"
#include "agent/wayland/rythme.h"
#include "agent/wayland/sortie.h"
#include "agent/wayland/sway.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace vimba::wayland {

namespace {

// One wheel click, in the units wl_pointer.axis carries (what libinput gives a mouse wheel).
constexpr double valeurCran = 15.0;

// The outputs as the compositor lays them out, from sway when it answers.
std::vector<Sortie> sortiesDuBureau() {
    if (std::getenv("SWAYSOCK"))
        if (auto json = demanderSway(kSwaySorties)) {
            auto s = sortiesDeSway(*json);
            if (!s.empty()) return s;
        }
    return sortiesWayland();
}

// A point of the main output as a position within the whole layout's box, which is what
// an absolute motion of a pointer bound to no output spans. Far points stop at the edge.
struct PositionAbsolue {
    std::uint32_t x = 0, y = 0, etendueX = 1, etendueY = 1;
};
std::optional<PositionAbsolue> positionAbsolue(double x, double y) {
    const auto sorties = sortiesDuBureau();
    const auto principale = choisirPrincipale(sorties);
    if (!principale) return std::nullopt;
    int x0 = principale->x, y0 = principale->y, x1 = x0 + principale->largeur, y1 = y0 + principale->hauteur;
    for (const auto& s : sorties) {
        x0 = std::min(x0, s.x), y0 = std::min(y0, s.y);
        x1 = std::max(x1, s.x + s.largeur), y1 = std::max(y1, s.y + s.hauteur);
    }
    auto axe = [](double v, int origine, int debut, int fin) {
        if (std::isnan(v)) v = 0;
        const double r = std::floor(v) + origine - debut;
        return static_cast<std::uint32_t>(std::clamp(r, 0.0, static_cast<double>(fin - debut - 1)));
    };
    return PositionAbsolue{axe(x, principale->x, x0, x1), axe(y, principale->y, y0, y1),
                           static_cast<std::uint32_t>(x1 - x0), static_cast<std::uint32_t>(y1 - y0)};
}

}  // namespace

struct EcouteRegistre {
    static void global(void* d, wl_registry* r, std::uint32_t nom, const char* interface, std::uint32_t version) {
        auto* s = static_cast<SaisieWlroots*>(d);
        if (!std::strcmp(interface, wl_seat_interface.name) && !s->siege_)
            s->siege_ = static_cast<wl_seat*>(wl_registry_bind(r, nom, &wl_seat_interface, 1));
        else if (!std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
            s->gestionPointeur_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
                wl_registry_bind(r, nom, &zwlr_virtual_pointer_manager_v1_interface, 1));
        else if (!std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name))
            s->gestionClavier_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(r, nom, &zwp_virtual_keyboard_manager_v1_interface, 1));
        (void)version;
    }
    static void retrait(void*, wl_registry*, std::uint32_t) {}
};

namespace {
const wl_registry_listener kEcouteRegistre = {EcouteRegistre::global, EcouteRegistre::retrait};
}

SaisieWlroots::SaisieWlroots(std::function<std::uint64_t()> devant) : devant_(std::move(devant)) {}

std::unique_ptr<SaisieWlroots> SaisieWlroots::ouvrir(std::function<std::uint64_t()> devant) {
    std::unique_ptr<SaisieWlroots> s(new SaisieWlroots(std::move(devant)));
    s->affichage_ = wl_display_connect(nullptr);
    if (!s->affichage_) return nullptr;
    s->registre_ = wl_display_get_registry(s->affichage_);
    wl_registry_add_listener(s->registre_, &kEcouteRegistre, s.get());
    wl_display_roundtrip(s->affichage_);
    if (!s->siege_ || !s->gestionPointeur_ || !s->gestionClavier_) return nullptr;
    s->pointeur_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(s->gestionPointeur_, s->siege_);
    s->clavier_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(s->gestionClavier_, s->siege_);
    s->charger({}, 0);
    if (!s->vivante()) return nullptr;
    return s;
}

SaisieWlroots::~SaisieWlroots() {
    if (!affichage_) return;
    if (clavier_) zwp_virtual_keyboard_v1_destroy(clavier_);
    if (pointeur_) zwlr_virtual_pointer_v1_destroy(pointeur_);
    if (gestionClavier_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(gestionClavier_));
    if (gestionPointeur_) zwlr_virtual_pointer_manager_v1_destroy(gestionPointeur_);
    if (siege_) wl_seat_destroy(siege_);
    if (registre_) wl_registry_destroy(registre_);
    wl_display_flush(affichage_);
    wl_display_disconnect(affichage_);
}

// A protocol error or a lost compositor ends the connection; calls then do nothing.
bool SaisieWlroots::vivante() const { return affichage_ && wl_display_get_error(affichage_) == 0; }

void SaisieWlroots::envoyer() {
    if (vivante()) wl_display_flush(affichage_);
}

void SaisieWlroots::allerRetour() {
    if (vivante()) wl_display_roundtrip(affichage_);
}

std::uint32_t SaisieWlroots::maintenant() const {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - debut_).count());
}

void SaisieWlroots::deplacer(double x, double y) {
    if (!vivante()) return;
    const auto p = positionAbsolue(x, y);
    if (!p) return;
    zwlr_virtual_pointer_v1_motion_absolute(pointeur_, maintenant(), p->x, p->y, p->etendueX, p->etendueY);
    zwlr_virtual_pointer_v1_frame(pointeur_);
    envoyer();
}

void SaisieWlroots::bouton(std::uint32_t code, bool enfonce) {
    if (!vivante()) return;
    zwlr_virtual_pointer_v1_button(pointeur_, maintenant(), code,
                                   enfonce ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointeur_);
    envoyer();
}

void SaisieWlroots::cle(std::uint32_t code, bool enfonce) {
    if (!vivante() || code == 0) return;
    zwp_virtual_keyboard_v1_key(clavier_, maintenant(), code,
                                enfonce ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    envoyer();
}

void SaisieWlroots::modificateurs(std::uint32_t masque) {
    if (!vivante()) return;
    zwp_virtual_keyboard_v1_modifiers(clavier_, masque, 0, 0, 0);
    envoyer();
}

void SaisieWlroots::charger(const std::vector<std::uint32_t>& symboles, std::size_t depuis) {
    if (!vivante()) return;
    std::vector<std::uint32_t> voulus;
    std::unordered_set<std::uint32_t> vus;
    for (std::size_t i = depuis; i < symboles.size() && voulus.size() < placesLibres(); ++i)
        if (symboles[i] != 0 && vus.insert(symboles[i]).second) voulus.push_back(symboles[i]);
    CarteClavier carte = carteClavier(voulus);
    const int fd = memfd_create("vimba-clavier", MFD_CLOEXEC);
    if (fd < 0) return;
    // The compositor maps the file and compiles it as a C string: the final NUL is sent too.
    const std::size_t taille = carte.texte.size() + 1;
    bool ecrit = true;
    for (std::size_t fait = 0; ecrit && fait < taille;) {
        const ssize_t n = write(fd, carte.texte.c_str() + fait, taille - fait);
        ecrit = n > 0;
        if (ecrit) fait += static_cast<std::size_t>(n);
    }
    if (ecrit) {
        zwp_virtual_keyboard_v1_keymap(clavier_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<std::uint32_t>(taille));
        carte_ = std::move(carte);
    }
    close(fd);
    // With one round trip the focused client typed the next key with the old keymap (sway
    // 1.7, once this keyboard is the seat's): a second one, and a short wait, let the new
    // keymap reach it first. Seen on every reload, gone with this; reloads are rare.
    allerRetour();
    allerRetour();
    pause(std::chrono::milliseconds(10));
}

void SaisieWlroots::cliquer(double x, double y, bool double_, bool droit) {
    deplacer(x, y);
    allerRetour();
    pause(kApresDeplacement);
    // The client counts the clicks: two presses close in time and place are a double click.
    const std::uint32_t code = droit ? BTN_RIGHT : BTN_LEFT;
    for (int n = 0; n < (double_ ? 2 : 1); ++n) {
        bouton(code, true);
        pause(kEnfoncementBouton);
        bouton(code, false);
        if (double_) pause(kApresClicDouble);
    }
    allerRetour();
}

void SaisieWlroots::bouger(double x, double y) {
    deplacer(x, y);
    allerRetour();
}

void SaisieWlroots::defiler(double x, double y, std::int32_t lignes) {
    deplacer(x, y);
    if (!vivante()) return;
    // Positive is up, toward negative values on the vertical axis.
    const int sens = lignes > 0 ? -1 : 1;
    const std::int64_t crans = std::min<std::int64_t>(std::abs(static_cast<std::int64_t>(lignes)), kCransMaximum);
    for (std::int64_t i = 0; i < crans; ++i) {
        zwlr_virtual_pointer_v1_axis_source(pointeur_, WL_POINTER_AXIS_SOURCE_WHEEL);
        zwlr_virtual_pointer_v1_axis_discrete(pointeur_, maintenant(), WL_POINTER_AXIS_VERTICAL_SCROLL,
                                              wl_fixed_from_double(sens * valeurCran), sens);
        zwlr_virtual_pointer_v1_frame(pointeur_);
        envoyer();
    }
    allerRetour();
}

void SaisieWlroots::ecrire(const std::string& texte, const std::function<bool()>& avant) {
    if (!vivante()) return;
    const std::vector<std::uint32_t> symboles = symbolesDuTexte(texte);
    std::size_t i = 0;
    ecrireAvecAvis(symboles, avant,
                   {devant_, [this] { allerRetour(); },
                    [&](std::uint32_t s) {
                        // A character the keymap lacks brings a new one with the text's next characters.
                        if (s != 0 && carte_.code(s) == 0) charger(symboles, i);
                        const std::uint32_t code = carte_.code(s);
                        cle(code, true);
                        cle(code, false);
                        ++i;
                    }});
}

bool SaisieWlroots::frapper(const std::string& mot) {
    const auto combinaison = x11::lireCombinaison(mot);
    if (!combinaison) return false;
    if (!vivante()) return true;
    // The modifier keys go down first and come up last, in reverse order; the modifier
    // state is set alongside, so that the client sees it with the key whatever it reads.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> mods;  // code, mask
    for (auto [m, s, masque] : {std::tuple<unsigned, std::uint32_t, std::uint32_t>{x11::Controle, XK_Control_L, kMasqueControle},
                                {x11::Alt, XK_Alt_L, kMasqueAlt},
                                {x11::Majuscule, XK_Shift_L, kMasqueMajuscule}})
        if (combinaison->modificateurs & m) mods.emplace_back(carte_.code(s), masque);
    std::uint32_t masque = 0;
    for (auto [code, m] : mods) {
        cle(code, true);
        modificateurs(masque |= m);
    }
    const std::uint32_t code = carte_.code(static_cast<std::uint32_t>(combinaison->touche));
    cle(code, true);
    pause(kEnfoncementTouche);
    cle(code, false);
    for (auto m = mods.rbegin(); m != mods.rend(); ++m) {
        cle(m->first, false);
        modificateurs(masque &= ~m->second);
    }
    allerRetour();
    return true;
}

}  // namespace vimba::wayland
