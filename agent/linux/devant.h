#pragma once
// The application in front on X11: the process of _NET_ACTIVE_WINDOW, named as the user
// sees it (its AT-SPI application name, else its desktop entry's Name, else WM_CLASS).
#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <string>

typedef struct _AtspiAccessible AtspiAccessible;

namespace vimba::x11 {

struct AppliDevant {
    int pid = 0;  // 0 when the window does not say
    std::string nom;  // empty when nothing names it
};

// None when no window is active. Without a window manager, the window holding the
// keyboard focus stands in for the active one.
std::optional<AppliDevant> appliDevant();
// A number that changes whenever another window comes to the front (the active window and
// the keyboard focus). Reads only the root and the server's focus, so it raises no X error
// and any thread may use it with its own connection.
std::uint64_t cleFenetreDevant(Display* affichage);
// The same on the guards' connection; main thread only.
std::uint64_t cleFenetreDevant();
// The title of the window in front (_NET_WM_NAME, else WM_NAME), or none.
std::optional<std::string> titreFenetreDevant();
// Whether the accessibility bus can be used: without it, any libatspi call ends the
// process. Call before using libatspi directly.
bool atspiPret();
// The AT-SPI application of that process (a new reference the caller unrefs), or null.
AtspiAccessible* applicationAtspi(int pid);

}  // namespace vimba::x11
