#pragma once
// The two safety facts on a Wayland desktop: the application in front and whether the
// keyboard focus is a password field. The compositor's own view where it has one (sway's
// IPC), else the accessibility bus's active window. Main thread only.
#include <cstdint>
#include <optional>
#include <string>

#include "agent/services.h"

namespace vimba::wayland {

// The window in front.
struct FenetreDevant {
    int pid = 0;           // 0 when nothing says
    std::string appId;     // app_id (the desktop entry's id) or the X11 class, may be empty
    std::string titre;
    std::uint64_t id = 0;  // the compositor's window id, 0 without one
};

// None when no window is in front, or when neither sway nor the accessibility bus answers.
std::optional<FenetreDevant> fenetreDevant();

class GardesWayland final : public Gardes {
public:
    std::optional<std::string> appDevant() override;
    std::optional<std::string> titreDevant() override;
    std::uint64_t cleDevant() override;
    // True unless the focused object can be found and is not a password field.
    bool champSecurise() override;
};

}  // namespace vimba::wayland
