#pragma once
// The keys that type one text: a key of the current layout that already carries the
// keysym, else a spare keycode lent to it; lent keycodes are emptied again when the text
// ends (destructor, so also on an early return). Main thread only.
//
// Every change of the mapping makes each client, the window manager first, reload it, and
// a burst of changes freezes the pointer for seconds behind the manager's passive grab.
// So layout keys come first, the keysyms still to come are bound a batch at a time in one
// XKB request, and a lent keycode keeps its keysym while it is needed again soon.
// A client reads a key with the mapping it fetches when it handles the key, not the one in
// force when the key went down: a keycode is not rebound, nor emptied, until `repos`
// after its last press.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstddef>
#include <unordered_map>
#include <vector>

namespace vimba::x11 {

class ClesPretees {
public:
    using Horloge = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds repos{200};

    struct Frappe {
        KeyCode code = 0;        // 0 when no key can type it
        bool majuscule = false;  // the keysym is on the Shift level of a layout key
    };

    // derniereCarte, when given, receives the time of each change of the mapping.
    ClesPretees(Display* affichage, std::vector<KeySym> texte, Horloge::time_point* derniereCarte = nullptr);
    ~ClesPretees();
    ClesPretees(const ClesPretees&) = delete;
    ClesPretees& operator=(const ClesPretees&) = delete;

    // The key for the i-th keysym of the text, marked as pressed now. Asked in order.
    Frappe frappe(std::size_t i);
    // The same, never on the Shift level: a lent keycode when the layout needs Shift.
    KeyCode sansMajuscule(std::size_t i);

private:
    struct Cle {
        KeyCode code;
        KeySym symbole = NoSymbol;
        Horloge::time_point dernierUsage{};
        bool changee = false;
    };
    KeyCode preter(std::size_t i);
    std::size_t prochainUsage(KeySym s, std::size_t depuis);
    void lier(const std::vector<std::pair<Cle*, KeySym>>& liens);
    void noterChangement();

    Display* affichage_;
    std::vector<KeySym> texte_;
    Horloge::time_point* derniereCarte_;
    std::vector<Cle> cles_;
    // Keys of the layout in force: first group, first two levels, when no lock or other
    // group would change what they type.
    std::unordered_map<KeySym, Frappe> disposition_;
    // Positions of each keysym in the text, latest first, consumed as typing goes.
    std::unordered_map<KeySym, std::vector<std::size_t>> positions_;
    XkbDescPtr xkb_ = nullptr;
};

}  // namespace vimba::x11
