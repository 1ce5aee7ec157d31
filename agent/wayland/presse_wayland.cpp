// The clipboard on Wayland through wl-clipboard: the agent has no surface with the keyboard
// focus, and a compositor offers the selection only to such a client, so GTK's clipboard
// sees nothing there. wl-copy keeps serving what was set after it returns. Main thread.
#include "agent/lancer.h"
#include "agent/wayland/fabrique_wayland.h"

namespace vimba::wayland {

namespace {

constexpr std::chrono::milliseconds kDelai{2000};

class PressePapiersWayland final : public PressePapiers {
public:
    std::optional<std::string> lire() override {
        // Fails (nothing copied, no text among the offered types) without output: no text.
        static const char* const argv[] = {"wl-paste", "--no-newline", "--type", "text", nullptr};
        return lancerBorne(argv, nullptr, true, kDelai);
    }

    void ecrire(const std::string& texte) override {
        static const char* const argv[] = {"wl-copy", "--type", "text/plain;charset=utf-8", nullptr};
        lancerBorne(argv, &texte, false, kDelai);
    }
};

}  // namespace

std::unique_ptr<PressePapiers> creerPresseWayland() { return std::make_unique<PressePapiersWayland>(); }

}  // namespace vimba::wayland
