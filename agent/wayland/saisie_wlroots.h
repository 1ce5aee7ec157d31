#pragma once
// Pointer and keyboard on wlroots compositors (sway…), through the virtual pointer and
// virtual keyboard protocols on a Wayland connection of our own. Every event is flushed
// as soon as it is made and each call ends with a round trip, so its events are in the
// compositor when it returns; the fixed pauses hold the calling (main) thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "agent/services.h"
#include "agent/wayland/clavier_xkb.h"

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace vimba::wayland {

class SaisieWlroots final : public Saisie {
public:
    // `devant` tells which window is in front (any value that changes when another comes
    // forward), asked before each key. None when the compositor lacks either device.
    static std::unique_ptr<SaisieWlroots> ouvrir(std::function<std::uint64_t()> devant);
    ~SaisieWlroots() override;
    SaisieWlroots(const SaisieWlroots&) = delete;
    SaisieWlroots& operator=(const SaisieWlroots&) = delete;

    void cliquer(double x, double y, bool double_, bool droit) override;
    void bouger(double x, double y) override;
    void defiler(double x, double y, std::int32_t lignes) override;
    void ecrire(const std::string& texte, const std::function<bool()>& avant) override;
    bool frapper(const std::string& combinaison) override;

private:
    explicit SaisieWlroots(std::function<std::uint64_t()> devant);
    bool vivante() const;
    void envoyer();
    void allerRetour();
    void deplacer(double x, double y);
    void bouton(std::uint32_t code, bool enfonce);
    void cle(std::uint32_t code, bool enfonce);
    void modificateurs(std::uint32_t masque);
    // Uploads a keymap holding every keysym of `symboles` from `depuis` on, as many as fit.
    void charger(const std::vector<std::uint32_t>& symboles, std::size_t depuis);
    std::uint32_t maintenant() const;

    std::function<std::uint64_t()> devant_;
    wl_display* affichage_ = nullptr;
    wl_registry* registre_ = nullptr;
    wl_seat* siege_ = nullptr;
    zwlr_virtual_pointer_manager_v1* gestionPointeur_ = nullptr;
    zwp_virtual_keyboard_manager_v1* gestionClavier_ = nullptr;
    zwlr_virtual_pointer_v1* pointeur_ = nullptr;
    zwp_virtual_keyboard_v1* clavier_ = nullptr;
    CarteClavier carte_;
    std::chrono::steady_clock::time_point debut_ = std::chrono::steady_clock::now();

    friend struct EcouteRegistre;
};

}  // namespace vimba::wayland
