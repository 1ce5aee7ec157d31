#pragma once
// sway's own view of the desktop through its IPC socket ($SWAYSOCK): the outputs, the
// window tree. One short-lived connection per question, so any thread may ask.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vimba::wayland {

// The message types we use.
inline constexpr std::uint32_t kSwayArbre = 4;    // GET_TREE
inline constexpr std::uint32_t kSwaySorties = 3;  // GET_OUTPUTS

// The JSON reply to one message, or none without sway or when it does not answer in time.
std::optional<std::string> demanderSway(std::uint32_t type, const std::string& charge = {});

// One window in sway's tree.
struct FenetreSway {
    int pid = 0;
    std::string appId;    // app_id for native clients, else the X11 class (Xwayland)
    std::string titre;
    int x = 0, y = 0, largeur = 0, hauteur = 0;  // the content's place, logical pixels
    std::uint64_t id = 0;  // sway's container id
    bool focalisee = false;
    bool xwayland = false;  // an X11 client: it knows its place, in the layout's coordinates
};
// Every window of a GET_TREE reply, hidden workspaces' too.
std::vector<FenetreSway> fenetresDe(const std::string& arbre);
std::optional<FenetreSway> fenetreFocaliseeDe(const std::string& arbre);
std::optional<FenetreSway> fenetreFocaliseeSway();

// The number Gardes::cleDevant gives for a window in front (none: `presente` false); it
// changes with the window and its title. Never 0, never with its two top bits set.
std::uint64_t cleFenetre(bool presente, std::uint64_t id, int pid, const std::string& titre);
// The same for sway's focused window: any thread (the stream's, once per frame), 0 without sway.
std::uint64_t cleSway();

}  // namespace vimba::wayland
