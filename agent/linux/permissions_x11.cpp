// Permissions on an X11 session: input needs XTEST, reading other applications needs
// the accessibility bus switched on, and the screen is readable when the root can be grabbed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <gio/gio.h>

#include "agent/bureau.h"
#include "agent/fabrique.h"
#include "agent/wayland/permissions_wayland.h"
#include "agent/linux/devant.h"

namespace vimba {

namespace {

void activerA11y() {
    GError* err = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &err);
    if (!bus) {
        g_clear_error(&err);
        return;
    }
    GVariant* r = g_dbus_connection_call_sync(bus, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                                              g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
                                              nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &err);
    if (r) g_variant_unref(r);
    g_clear_error(&err);
    g_object_unref(bus);
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

class PermissionsX11 final : public Permissions {
public:
    PermissionsX11() : affichage_(XOpenDisplay(nullptr)) {}
    ~PermissionsX11() override {
        if (affichage_) XCloseDisplay(affichage_);
    }

    bool voitEcran() override {
        if (!affichage_) return false;
        XImage* img = XGetImage(affichage_, DefaultRootWindow(affichage_), 0, 0, 1, 1, AllPlanes, ZPixmap);
        if (!img) return false;
        XDestroyImage(img);
        return true;
    }

    bool peutAgir() override {
        if (!affichage_) return false;
        int ev, err, maj, min;
        if (!XTestQueryExtension(affichage_, &ev, &err, &maj, &min)) return false;
        return x11::accessibiliteActive().value_or(false);
    }

    void demanderAutorisations() override {
        // Nothing to ask for the screen on X11; accessibility is a session switch.
        if (!x11::accessibiliteActive().value_or(false)) activerA11y();
    }

private:
    Display* affichage_;
};

}  // namespace

std::unique_ptr<Permissions> creerPermissions() {
    if (bureauCourant().affichage == Affichage::Wayland) return wayland::creerPermissionsWayland();
    return std::make_unique<PermissionsX11>();
}

}  // namespace vimba
