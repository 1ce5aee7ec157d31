#pragma once
// Pointer and keyboard through the RemoteDesktop portal (GNOME, KDE): absolute motion in the
// screen stream's frame, evdev buttons, wheel clicks, and keysyms. GNOME types only the
// keysyms of its current layout and drops the others: a character missing from the layout
// goes through the Unicode entry of GTK and IBus (Ctrl+Shift+U, its hex code, space).
// Main thread; each call returns once the portal has answered its events.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>

#include "agent/services.h"

namespace vimba::wayland {

// The portal calls input makes; the real one is the process's portal session (portail.h).
class CanalPortail {
public:
    virtual ~CanalPortail() = default;
    // Where the stream's frame starts, in the compositor's logical space, and its size
    // (0 when unknown); the main output's origin likewise.
    struct Cadre {
        int x = 0, y = 0, largeur = 0, hauteur = 0;
    };
    virtual std::optional<Cadre> flux() = 0;
    virtual std::optional<Cadre> principale() = 0;
    virtual void pointeurAbsolu(double x, double y) = 0;
    virtual void bouton(int code, bool presse) = 0;
    virtual void defilerDiscret(int crans) = 0;  // vertical, > 0 down
    virtual void toucheSymbole(std::uint32_t keysym, bool presse) = 0;
    virtual void vider() = 0;
    // The keysyms of the compositor's first layout; empty when unknown (all are then sent as they are).
    virtual std::optional<std::unordered_set<std::uint32_t>> symbolesDeLaCarte() { return std::nullopt; }
};

class SaisiePortail final : public Saisie {
public:
    explicit SaisiePortail(std::unique_ptr<CanalPortail> canal, std::function<std::uint64_t()> devant = [] {
        return std::uint64_t{0};
    });

    void cliquer(double x, double y, bool double_, bool droit) override;
    void bouger(double x, double y) override;
    void defiler(double x, double y, std::int32_t lignes) override;
    void ecrire(const std::string& texte, const std::function<bool()>& avant) override;
    bool frapper(const std::string& combinaison) override;

private:
    void deplacer(double x, double y);

    std::unique_ptr<CanalPortail> canal_;
    std::function<std::uint64_t()> devant_;
};

// The process's portal session as a channel; null unless its input is granted.
std::unique_ptr<CanalPortail> canalDuPortail();

}  // namespace vimba::wayland
