#pragma once
// Still screenshots of the main display for the "vue" verb: grab, reduce to at most 1440
// wide, JPEG at quality 55, "vue.jpg" and "vue.txt" in the agent's folder; the system's
// tools when the in-process way fails. Main thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent/services.h"

namespace vimba::photo {

inline constexpr int largeurMaximum = 1440;
inline constexpr int qualite = 55;

// A grab of the main display, 4 bytes a pixel in B, G, R, X order.
struct Image {
    int largeur = 0, hauteur = 0, pas = 0;
    std::vector<std::uint8_t> pixels;
};

// Where the pixels come from: the display server in the product, a stand-in in tests.
class Ecran {
public:
    virtual ~Ecran() = default;
    virtual bool lisible() = 0;  // the screen's pixels may be read at all
    virtual std::optional<Image> saisir() = 0;
    virtual std::pair<int, int> taille() = 0;  // the main display in pixels, 0×0 when unknown
    // Where the main display starts on the whole screen, which the system's tools take whole.
    virtual std::pair<int, int> origine() { return {0, 0}; }
};

// The X11 main display through MIT-SHM, plain XGetImage when shared memory is refused.
std::unique_ptr<Ecran> ecranX11();

// w = min(W, 1440), h = H × w ÷ W rounded half away from zero.
std::pair<int, int> tailleReduite(int largeur, int hauteur);
// FNV-1a over about a thousand evenly spaced bytes, then the length.
std::uint64_t empreinte(const std::uint8_t* octets, std::size_t n);
// Reduced (bilinear) and encoded; nullopt when the encoder fails.
std::optional<std::vector<std::uint8_t>> jpeg(const Image& image);
// Writes dossier/nom under a temporary name then renames it, never through a link.
bool ecrireAtomique(const std::string& dossier, const std::string& nom, const void* octets, std::size_t n);

// One way to take a screenshot into a PNG file, tried in order by the fallback.
struct Outil {
    std::vector<std::string> arguments;  // "{}" stands for the PNG's path
};
// import (ImageMagick, X11), gnome-screenshot, then grim (Wayland).
std::vector<Outil> outilsDuSysteme();

class Photographe final : public vimba::Photographe {
public:
    // A tool still running after `delaiOutil` is killed: one that waits for a click (import
    // given a window it cannot find) must not hold the agent.
    Photographe(std::string dossier, std::unique_ptr<Ecran> ecran, std::vector<Outil> outils,
                std::chrono::milliseconds delaiOutil = std::chrono::seconds(10));
    std::string capturer() override;
    std::string capturerParOutils();

private:
    std::string dossier_;
    std::unique_ptr<Ecran> ecran_;
    std::vector<Outil> outils_;
    std::chrono::milliseconds delaiOutil_;
    std::uint64_t empreinte_ = 0;
};

}  // namespace vimba::photo
