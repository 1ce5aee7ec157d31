#include "agent/wayland/permissions_wayland.h"

#include <gio/gio.h>
#include <wayland-client.h>

#include <cstring>

#include "agent/bureau.h"
#include "agent/wayland/portail.h"

namespace vimba::wayland {

namespace {

GVariant* appelA11y(const char* methode, GVariant* parametres, const GVariantType* reponse) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return nullptr;
    GVariant* r = g_dbus_connection_call_sync(bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", methode,
                                              parametres, reponse, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
    g_object_unref(bus);
    return r;
}

bool a11yActive() {
    GVariant* r = appelA11y("Get", g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"));
    if (!r) return false;
    GVariant* v = nullptr;
    g_variant_get(r, "(v)", &v);
    const bool actif = g_variant_is_of_type(v, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(v);
    g_variant_unref(v);
    g_variant_unref(r);
    return actif;
}

void activerA11y() {
    GVariant* r = appelA11y("Set", g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)), nullptr);
    if (r) g_variant_unref(r);
    // GNOME keeps its own switch; set it too where the schema exists.
    GSettingsSchemaSource* src = g_settings_schema_source_get_default();
    if (GSettingsSchema* schema = src ? g_settings_schema_source_lookup(src, "org.gnome.desktop.interface", TRUE) : nullptr) {
        if (g_settings_schema_has_key(schema, "toolkit-accessibility")) {
            GSettings* s = g_settings_new("org.gnome.desktop.interface");
            g_settings_set_boolean(s, "toolkit-accessibility", TRUE);
            g_settings_sync();
            g_object_unref(s);
        }
        g_settings_schema_unref(schema);
    }
}

// Whether the compositor offers both virtual input devices; asked once, the globals of a
// running compositor do not come and go.
bool appareilsVirtuels() {
    static const bool offerts = [] {
        wl_display* d = wl_display_connect(nullptr);
        if (!d) return false;
        struct Trouves {
            bool pointeur = false, clavier = false;
        } t;
        static const wl_registry_listener ecoute = {
            [](void* p, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
                auto* t = static_cast<Trouves*>(p);
                if (std::strcmp(interface, "zwlr_virtual_pointer_manager_v1") == 0) t->pointeur = true;
                if (std::strcmp(interface, "zwp_virtual_keyboard_manager_v1") == 0) t->clavier = true;
            },
            [](void*, wl_registry*, std::uint32_t) {}};
        wl_registry* r = wl_display_get_registry(d);
        wl_registry_add_listener(r, &ecoute, &t);
        wl_display_roundtrip(d);
        wl_registry_destroy(r);
        wl_display_disconnect(d);
        return t.pointeur && t.clavier;
    }();
    return offerts;
}

class PermissionsWayland final : public Permissions {
public:
    bool voitEcran() override { return Portail::commun().etat() == EtatPortail::Accorde; }

    bool peutAgir() override {
        if (!a11yActive()) return false;
        if (bureauCourant().compositeur == Compositeur::Wlroots) return appareilsVirtuels();
        return Portail::commun().saisieAccordee();
    }

    // Returns at once: the portal's dialog is answered while the main loop runs on.
    void demanderAutorisations() override {
        if (!a11yActive()) activerA11y();
        Portail::commun().demander();
    }
};

}  // namespace

std::unique_ptr<Permissions> creerPermissionsWayland() { return std::make_unique<PermissionsWayland>(); }

}  // namespace vimba::wayland
