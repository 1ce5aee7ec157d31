#pragma once
// The application in front on X11: the process of _NET_ACTIVE_WINDOW, named as the user
// sees it (its AT-SPI application name, else its desktop entry's Name, else WM_CLASS).
#include <cstdint>
#include <optional>
#include <string>

typedef struct _AtspiAccessible AtspiAccessible;
typedef struct xcb_connection_t xcb_connection_t;

namespace vimba::x11 {

struct AppliDevant {
    int pid = 0;  // 0 when the window does not say
    std::string nom;  // empty when nothing names it
};

// None when no window is active. Without a window manager, the window holding the
// keyboard focus stands in for the active one.
std::optional<AppliDevant> appliDevant();
// Which window is in front, as a number that changes whenever another window, or another
// title of it, comes to the front (active window, keyboard focus, the active window's
// title). Its own XCB connection, whose errors come back as replies rather than through
// Xlib's process-wide handler: any thread may own one, and use it alone.
class VueDevant {
public:
    VueDevant();
    ~VueDevant();
    VueDevant(const VueDevant&) = delete;
    VueDevant& operator=(const VueDevant&) = delete;
    // 0 without a display; never has its two top bits set.
    std::uint64_t cle();
    // Whether, at the last `cle`, the keyboard focus was inside the active window: the window
    // manager names a window that takes the focus the active one only a moment later.
    bool focusDansActive();
    // The focus window read by the last `cle`.
    std::uint32_t focus() const { return dernierFocus_; }

private:
    xcb_connection_t* connexion_ = nullptr;
    std::uint32_t racine_ = 0, active_ = 0, nom_ = 0, utf8_ = 0;
    std::uint32_t derniereActive_ = 0, dernierFocus_ = 0;
};
// The same on the guards' own one; main thread only.
std::uint64_t cleFenetreDevant();
bool focusDansFenetreActive();
std::uint32_t focusFenetreDevant();
// The title of the window in front (_NET_WM_NAME, else WM_NAME), or none.
std::optional<std::string> titreFenetreDevant();
// Whether the accessibility bus can be used: without it, any libatspi call ends the
// process. Call before using libatspi directly.
bool atspiPret();
// The AT-SPI application of that process (a new reference the caller unrefs), or null.
AtspiAccessible* applicationAtspi(int pid);
// Whether the session has accessibility switched on (org.a11y.Status.IsEnabled); none when
// the session bus cannot say.
std::optional<bool> accessibiliteActive();

// The guards' questions to one process over the accessibility bus, bounded: a stopped
// process is not asked at all, and one that left a question unanswered past the bound is
// not asked again for a few seconds, so a frozen application costs a request one wait at
// most. Main thread only.
class Question {
public:
    explicit Question(int pid);
    ~Question();
    Question(const Question&) = delete;
    Question& operator=(const Question&) = delete;
    // False: do not ask, count it as unanswered.
    bool permise() const { return permise_; }

private:
    int pid_;
    bool permise_;
    long long debut_;
};

}  // namespace vimba::x11
