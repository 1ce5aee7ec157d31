#pragma once
// Lends the keyboard's spare keycodes to keysyms while one text is typed, and empties
// them again when it ends (destructor, so also on an early return). Main thread only.
//
// A client reads a key with the mapping it fetches when it handles the key, not the one
// in force when the key was pressed; a keycode rebound too soon is read as its new
// symbol. So a keycode is not rebound, nor emptied, until `repos` after its last press.
#include <X11/Xlib.h>

#include <chrono>
#include <vector>

namespace vimba::x11 {

class ClesPretees {
public:
    using Horloge = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds repos{200};

    // derniereCarte, when given, receives the time of each change of the mapping.
    explicit ClesPretees(Display* affichage, Horloge::time_point* derniereCarte = nullptr);
    ~ClesPretees();
    ClesPretees(const ClesPretees&) = delete;
    ClesPretees& operator=(const ClesPretees&) = delete;

    // A keycode that now carries the keysym in both columns (so Shift or Caps Lock cannot
    // change it), marked as pressed now; 0 when the keyboard has no spare keycode.
    KeyCode preter(KeySym symbole);

private:
    struct Cle {
        KeyCode code;
        KeySym symbole = NoSymbol;
        Horloge::time_point dernierUsage{};
        bool changee = false;
    };
    Display* affichage_;
    Horloge::time_point* derniereCarte_;
    std::vector<Cle> cles_;
    int colonnes_ = 0;
};

}  // namespace vimba::x11
