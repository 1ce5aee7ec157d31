#pragma once
// What a streaming engine is given by the stream server and what it offers back. The
// server's thread (one Asio io_context) runs every send; the capture source delivers on
// its own thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vimba::flux {

// A rectangle in frame pixels, origin top left.
struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// A frame the consumer owns: 4 bytes a pixel, B, G, R, X in memory.
struct ImageBGRA {
    int largeur = 0, hauteur = 0, pas = 0;
    std::vector<std::uint8_t> pixels;
};

// A borrowed NV12 picture, full range; valid only for the duration of the call.
struct PixelsNV12 {
    int largeur = 0, hauteur = 0;
    const std::uint8_t* y = nullptr;
    int pasY = 0;
    const std::uint8_t* uv = nullptr;
    int pasUV = 0;
};

// The capture source: frames of the main display with the rectangles changed since the
// previous one, delivered one at a time on its own thread.
class SourceImages {
public:
    using SurImage = std::function<void(ImageBGRA, std::vector<Rect>)>;
    using SurPixels = std::function<void(const PixelsNV12&, const std::vector<Rect>&)>;
    virtual ~SourceImages() = default;
    // Blocks at most 4 s; false when the display cannot be captured. Only `pixels` is
    // called when given, else `image`.
    virtual bool demarrer(int largeur, int imagesParSeconde, SurImage image, SurPixels pixels) = 0;
    // Returns at once; afterwards at most the frame already in delivery reaches the consumer.
    virtual void arreter() = 0;
    // Width and height of the delivered frames after a successful start.
    virtual std::pair<int, int> taille() const = 0;
    // Any thread: deliver a frame soon even if the screen did not change.
    virtual void rafraichir() {}
};
using FabriqueSource = std::function<std::unique_ptr<SourceImages>()>;

// The viewer's link as engines see it. Everything runs on the server's thread except
// `enVol`, `octetsEnVol` and `poster`, which are safe from any thread.
class Lien {
public:
    virtual ~Lien() = default;
    virtual bool pret() const = 0;
    // One complete message, one send; order kept. Nothing happens without a viewer.
    virtual void envoyer(std::vector<std::uint8_t> message) = 0;
    virtual int enVol() const = 0;
    virtual std::int64_t octetsEnVol() const = 0;
    // Pointer in pixels of a frame of this size (the main monitor scaled to it); (-1, -1) when unknown.
    virtual std::pair<int, int> pointeur(int largeurImage, int hauteurImage) const = 0;
    // A frame message went out: the heartbeat waits 150 ms from now, for a picture this size.
    virtual void trameEnvoyee(int largeur, int hauteur) = 0;
    // Queues work on the server's thread.
    virtual void poster(std::function<void()> travail) = 0;
};

// What an engine is started with.
struct ContexteMoteur {
    Lien* lien = nullptr;           // outlives the engine
    FabriqueSource source;          // makes a new capture source
    int largeur = 1440;             // target width, already clamped
    double qualite = 0.45;          // 0.20 .. 0.90
};

// One streaming engine, made for one viewer: its first frame is complete. `demarrer` may
// run on a thread of its own; everything else on the server's thread.
class Moteur {
public:
    virtual ~Moteur() = default;
    virtual std::string nom() const = 0;  // "tuiles", "tuiles-anciennes", "h264"
    // False when it cannot run (the server then tries the next engine).
    virtual bool demarrer() = 0;
    virtual void arreter() = 0;
    // Whether the server runs the 150 ms heartbeat beside it.
    virtual bool avecBattement() const = 0;
    virtual std::uint64_t images() const = 0;
    virtual std::uint64_t octets() const = 0;
    virtual double msCapture() const = 0;
};

// The H.264 engine; nullptr when it is not built in or cannot be made.
std::unique_ptr<Moteur> creerMoteurH264(const ContexteMoteur& contexte);

}  // namespace vimba::flux
