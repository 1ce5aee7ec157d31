#pragma once
// Catches the X errors of one scope instead of letting Xlib's default handler end the
// process (a window read as the focus may vanish before we ask about it). Any thread, each
// on its own Display: Xlib's handler is process-wide, so one handler routes every error to
// the innermost trap open on that display for that request.
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
    static int router(Display* affichage, XErrorEvent* erreur);

    Display* affichage_;
    unsigned long debut_ = 0;  // first request this trap answers for
    int erreur_ = 0;           // written by the handler under the traps' lock
};

}  // namespace vimba::x11
