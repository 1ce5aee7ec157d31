#pragma once
// Catches the X errors of one scope instead of letting Xlib's default handler end the
// process (a window read as the focus may vanish before we ask about it). Main thread only.
#include <X11/Xlib.h>

namespace vimba::x11 {

class PiegeX {
public:
    explicit PiegeX(Display* affichage);
    ~PiegeX();
    PiegeX(const PiegeX&) = delete;
    PiegeX& operator=(const PiegeX&) = delete;

    // Waits for the server's answers so far; true when none of them was an error.
    bool sain();

private:
    Display* affichage_;
    int (*precedent_)(Display*, XErrorEvent*);
    int erreurPrecedente_;
};

}  // namespace vimba::x11
