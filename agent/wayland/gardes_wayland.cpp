#include "agent/wayland/gardes_wayland.h"

#include <atspi/atspi.h>
#include <gio/gdesktopappinfo.h>
#include <unistd.h>

#include <functional>

#include "agent/linux/devant.h"
#include "agent/linux/gardes_x11.h"
#include "agent/wayland/fabrique_wayland.h"
#include "agent/wayland/sway.h"

namespace vimba::wayland {

namespace {

bool aEtat(AtspiAccessible* a, AtspiStateType etat) {
    AtspiStateSet* s = atspi_accessible_get_state_set(a);
    if (!s) return false;
    const bool oui = atspi_state_set_contains(s, etat);
    g_object_unref(s);
    return oui;
}

// Without the compositor's view: the one top-level window the accessibility bus calls active.
std::optional<FenetreDevant> parAccessibilite() {
    if (!x11::atspiPret()) return std::nullopt;
    AtspiAccessible* bureau = atspi_get_desktop(0);
    if (!bureau) return std::nullopt;
    std::optional<FenetreDevant> trouve;
    const int n = atspi_accessible_get_child_count(bureau, nullptr);
    for (int i = 0; i < n && !trouve; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(bureau, i, nullptr);
        if (!app) continue;
        const int m = atspi_accessible_get_child_count(app, nullptr);
        for (int j = 0; j < m && !trouve; ++j) {
            AtspiAccessible* f = atspi_accessible_get_child_at_index(app, j, nullptr);
            if (!f) continue;
            if (aEtat(f, ATSPI_STATE_ACTIVE)) {
                FenetreDevant d;
                GError* err = nullptr;
                d.pid = static_cast<int>(atspi_accessible_get_process_id(app, &err));
                if (err || d.pid < 0) d.pid = 0;
                g_clear_error(&err);
                if (gchar* t = atspi_accessible_get_name(f, nullptr)) {
                    d.titre = t;
                    g_free(t);
                }
                // The window's bus name and path stand in for the compositor's id.
                const std::string nomObjet = std::string(f->parent.app && f->parent.app->bus_name ? f->parent.app->bus_name : "") +
                                             (f->parent.path ? f->parent.path : "");
                d.id = std::hash<std::string>{}(nomObjet);
                trouve = d;
            }
            g_object_unref(f);
        }
        g_object_unref(app);
    }
    g_object_unref(bureau);
    return trouve;
}

std::uint64_t cleDe(const std::optional<FenetreDevant>& d) {
    return d ? cleFenetre(true, d->id, d->pid, d->titre) : cleFenetre(false, 0, 0, {});
}

std::string nomDeBureau(const std::string& appId) {
    if (appId.empty()) return {};
    GDesktopAppInfo* info = g_desktop_app_info_new((appId + ".desktop").c_str());
    if (!info) return {};
    std::string nom = g_app_info_get_name(G_APP_INFO(info));
    g_object_unref(info);
    return nom;
}

std::optional<FenetreDevant> depuisSway(bool& repondu) {
    auto arbre = demanderSway(kSwayArbre);
    repondu = arbre.has_value();
    if (!arbre) return std::nullopt;
    auto f = fenetreFocaliseeDe(*arbre);
    if (!f) return std::nullopt;
    return FenetreDevant{f->pid, f->appId, f->titre, f->id};
}

}  // namespace

std::optional<FenetreDevant> fenetreDevant() {
    bool repondu = false;
    auto d = depuisSway(repondu);
    // sway's word is final when it answers: no window focused means nothing in front.
    if (repondu) return d;
    return parAccessibilite();
}

std::optional<std::string> GardesWayland::appDevant() {
    const auto d = fenetreDevant();
    if (!d) return std::nullopt;
    // As on X11: the process's accessible application name first, then its desktop entry.
    std::string nom;
    if (d->pid > 0 && d->pid != getpid()) {
        x11::Question q(d->pid);
        if (AtspiAccessible* app = q.permise() ? x11::applicationAtspi(d->pid) : nullptr) {
            if (gchar* n = atspi_accessible_get_name(app, nullptr)) {
                nom = n;
                g_free(n);
            }
            g_object_unref(app);
        }
    }
    if (nom.empty()) nom = nomDeBureau(d->appId);
    if (nom.empty()) nom = d->appId;
    if (nom.empty()) return std::nullopt;
    return nom;
}

std::optional<std::string> GardesWayland::titreDevant() {
    const auto d = fenetreDevant();
    if (!d || d->titre.empty()) return std::nullopt;
    return d->titre;
}

std::uint64_t GardesWayland::cleDevant() { return cleDe(fenetreDevant()); }

bool GardesWayland::champSecurise() {
    // Without accessibility switched on the focus cannot be known, whatever is still on the bus.
    if (!x11::accessibiliteActive().value_or(false)) return true;
    const auto d = fenetreDevant();
    if (!d || d->pid <= 0 || d->pid == getpid()) return true;
    x11::Question q(d->pid);
    if (!q.permise()) return true;
    AtspiAccessible* app = x11::applicationAtspi(d->pid);
    if (!app) return true;
    AtspiAccessible* focus = x11::objetFocalise(app);
    g_object_unref(app);
    if (!focus) return true;
    GError* err = nullptr;
    const AtspiRole role = atspi_accessible_get_role(focus, &err);
    g_object_unref(focus);
    // Fail closed: a role that cannot be read may well be a password field's.
    const bool secret = err || role == ATSPI_ROLE_PASSWORD_TEXT;
    g_clear_error(&err);
    return secret;
}

}  // namespace vimba::wayland

namespace vimba::wayland {
std::unique_ptr<Gardes> creerGardesWayland() { return std::make_unique<GardesWayland>(); }
}  // namespace vimba::wayland
