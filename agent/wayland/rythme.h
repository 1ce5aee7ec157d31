#pragma once
// What the Wayland input back ends share: the fixed pauses (the same as on X11, so that
// applications see the same rhythm whatever the display), the keysyms of a text, and the
// typing loop with its checks. Runs on the calling (main) thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vimba::wayland {

inline constexpr std::chrono::milliseconds kApresDeplacement{40};
inline constexpr std::chrono::milliseconds kEnfoncementBouton{50};
inline constexpr std::chrono::milliseconds kApresClicDouble{40};
inline constexpr std::chrono::milliseconds kApresCaractere{12};
inline constexpr std::chrono::milliseconds kEnfoncementTouche{40};
// Wheel clicks posted for one "defiler" at most, as on X11.
inline constexpr std::int64_t kCransMaximum = 1000;

void pause(std::chrono::milliseconds d);

// One keysym per scalar: line feed and tab as Return and Tab, the others as the keysym a
// key must carry to type them (0 for what no key produces); malformed bytes give none.
std::vector<std::uint32_t> symbolesDuTexte(const std::string& texte);

struct Frappe {
    std::function<std::uint64_t()> devant;   // changes when another window comes forward
    std::function<void()> synchroniser;      // returns once what was sent has arrived
    std::function<void(std::uint32_t keysym)> taper;  // presses and releases one key
};

// Types `symboles`, asking `avant` before each Tab or Return, before the key after one (once
// the application had time to move its focus), before the first key after another window
// came forward, and at least every 0.1 s; stops where it says false.
void ecrireAvecAvis(const std::vector<std::uint32_t>& symboles, const std::function<bool()>& avant, const Frappe& f);

}  // namespace vimba::wayland
