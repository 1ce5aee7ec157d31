#include "agent/linux/gardes_x11.h"

#include <atspi/atspi.h>
#include <unistd.h>

#include "agent/bureau.h"
#include "agent/fabrique.h"
#include "agent/linux/devant.h"
#include "agent/wayland/fabrique_wayland.h"

namespace vimba::x11 {

namespace {

// Beyond this many objects the walk gives up, and the focus counts as not found.
constexpr int objetsMaximum = 5000;

bool aEtat(AtspiAccessible* a, AtspiStateType etat) {
    AtspiStateSet* s = atspi_accessible_get_state_set(a);
    if (!s) return false;
    const bool oui = atspi_state_set_contains(s, etat);
    g_object_unref(s);
    return oui;
}

// Asks the application to search its own tree: one round trip instead of one per object.
AtspiAccessible* parCollection(AtspiAccessible* fenetre) {
    AtspiCollection* c = atspi_accessible_get_collection_iface(fenetre);
    if (!c) return nullptr;
    AtspiStateSet* etats = atspi_state_set_new(nullptr);
    atspi_state_set_add(etats, ATSPI_STATE_FOCUSED);
    AtspiMatchRule* regle = atspi_match_rule_new(etats, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE,
                                                 nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
                                                 ATSPI_Collection_MATCH_NONE, FALSE);
    GError* err = nullptr;
    GArray* trouves = atspi_collection_get_matches(c, regle, ATSPI_Collection_SORT_ORDER_CANONICAL, 1, TRUE, &err);
    AtspiAccessible* r = nullptr;
    if (trouves) {
        if (trouves->len > 0) r = static_cast<AtspiAccessible*>(g_object_ref(g_array_index(trouves, AtspiAccessible*, 0)));
        for (guint i = 0; i < trouves->len; ++i) g_object_unref(g_array_index(trouves, AtspiAccessible*, i));
        g_array_free(trouves, TRUE);
    }
    g_clear_error(&err);
    g_object_unref(regle);
    g_object_unref(etats);
    g_object_unref(c);
    return r;
}

AtspiAccessible* parParcours(AtspiAccessible* a, int& restants) {
    if (--restants < 0) return nullptr;
    if (aEtat(a, ATSPI_STATE_FOCUSED)) return static_cast<AtspiAccessible*>(g_object_ref(a));
    // Hidden branches cannot hold the focus; skipping them keeps long lists cheap.
    if (!aEtat(a, ATSPI_STATE_SHOWING) && atspi_accessible_get_role(a, nullptr) != ATSPI_ROLE_FRAME) return nullptr;
    const int n = atspi_accessible_get_child_count(a, nullptr);
    for (int i = 0; i < n && restants >= 0; ++i) {
        AtspiAccessible* enfant = atspi_accessible_get_child_at_index(a, i, nullptr);
        if (!enfant) continue;
        AtspiAccessible* r = parParcours(enfant, restants);
        g_object_unref(enfant);
        if (r) return r;
    }
    return nullptr;
}

}  // namespace

AtspiAccessible* objetFocalise(AtspiAccessible* application) {
    const int n = atspi_accessible_get_child_count(application, nullptr);
    // The active window first: an inactive one may remember a focus it no longer has.
    AtspiAccessible* active = nullptr;
    for (int i = 0; i < n && !active; ++i) {
        AtspiAccessible* f = atspi_accessible_get_child_at_index(application, i, nullptr);
        if (f && aEtat(f, ATSPI_STATE_ACTIVE))
            active = f;
        else if (f)
            g_object_unref(f);
    }
    if (!active) return nullptr;
    AtspiAccessible* r = parCollection(active);
    if (!r) {
        int restants = objetsMaximum;
        r = parParcours(active, restants);
    }
    g_object_unref(active);
    return r;
}

std::optional<std::string> GardesX11::appDevant() {
    auto a = appliDevant();
    if (!a || a->nom.empty()) return std::nullopt;
    return a->nom;
}

std::optional<std::string> GardesX11::titreDevant() { return titreFenetreDevant(); }

std::uint64_t GardesX11::cleDevant() { return cleFenetreDevant(); }

bool GardesX11::champSecurise() {
    // Without accessibility switched on the focus cannot be known, whatever is still on the bus.
    if (!accessibiliteActive().value_or(false)) return true;
    const auto devant = appliDevant();
    if (!devant || devant->pid <= 0 || devant->pid == getpid()) return true;
    Question q(devant->pid);
    if (!q.permise()) return true;
    AtspiAccessible* app = applicationAtspi(devant->pid);
    if (!app) return true;
    AtspiAccessible* focus = objetFocalise(app);
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

}  // namespace vimba::x11

namespace vimba {
std::unique_ptr<Gardes> creerGardes() {
    if (bureauCourant().affichage == Affichage::Wayland) return wayland::creerGardesWayland();
    return std::make_unique<x11::GardesX11>();
}
}  // namespace vimba
