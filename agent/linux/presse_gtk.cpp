// The CLIPBOARD selection through GTK; what the agent sets stays served while it runs.
#include <gtk/gtk.h>

#include "agent/bureau.h"
#include "agent/fabrique.h"
#include "agent/wayland/fabrique_wayland.h"

namespace vimba {

namespace {
class PressePapiersGtk final : public PressePapiers {
public:
    std::optional<std::string> lire() override {
        GtkClipboard* cb = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
        // Turns the main loop while the owner answers; a nested poll tick returns at once.
        gchar* t = gtk_clipboard_wait_for_text(cb);
        if (!t) return std::nullopt;
        std::string r(t);
        g_free(t);
        return r;
    }

    void ecrire(const std::string& texte) override {
        GtkClipboard* cb = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
        gtk_clipboard_clear(cb);
        gtk_clipboard_set_text(cb, texte.data(), static_cast<gint>(texte.size()));
    }
};
}  // namespace

std::unique_ptr<PressePapiers> creerPressePapiers() {
    if (bureauCourant().affichage == Affichage::Wayland) return wayland::creerPresseWayland();
    return std::make_unique<PressePapiersGtk>();
}

}  // namespace vimba
