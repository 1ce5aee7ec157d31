#pragma once
// The pictures of the portal's screen stream, received from PipeWire on its own thread and
// kept as the latest frame in B, G, R, X order. The screenshot and the live stream read the
// same stream. Any thread.
#include <cstdint>
#include <functional>
#include <optional>

namespace vimba::wayland {

// A frame as it sits in memory, valid only during the call that hands it over.
struct VueImage {
    const std::uint8_t* pixels = nullptr;
    int largeur = 0, hauteur = 0, pas = 0;
    std::uint64_t numero = 0;  // grows by one with each frame received
};

class ImagesPortail {
public:
    static ImagesPortail& commun();

    // Connects to the granted stream unless connected, then waits at most `millisecondes`
    // for a first frame. False when the portal has not granted a stream or none came.
    bool demarrer(int millisecondes);
    // Waits at most `millisecondes` for a frame numbered above `apres`, then hands the latest
    // one (under a lock: keep the call short). False when there is no frame at all.
    bool lire(std::uint64_t apres, int millisecondes, const std::function<void(const VueImage&)>& lecteur);
    std::uint64_t dernier() const;
    // The pointer in the picture `lire` hands and that picture's size, when the compositor
    // sends the pointer beside the frames (the portal's metadata mode); nothing otherwise.
    struct Pointeur {
        int x = 0, y = 0, largeur = 0, hauteur = 0;
    };
    std::optional<Pointeur> pointeur() const;
    // Milliseconds since the latest frame came; a large number when none came yet.
    long msDepuisDerniere() const;

    ImagesPortail(const ImagesPortail&) = delete;
    ImagesPortail& operator=(const ImagesPortail&) = delete;

private:
    ImagesPortail();
    struct Etat;
    Etat* e_;
};

}  // namespace vimba::wayland
