#pragma once
// The JPEG tile engines: "tuiles", fed by the capture source, and "tuiles-anciennes",
// which grabs the display itself every 40 ms. Frame work runs on the server's thread.
#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "stream/moteur.h"

namespace vimba::flux {

inline constexpr int cote = 128;

// Tile grid of a W x H frame.
struct Grille {
    int colonnes = 0, rangees = 0, largeur = 0, hauteur = 0;
    static Grille pour(int largeur, int hauteur) {
        return {(largeur + cote - 1) / cote, (hauteur + cote - 1) / cote, largeur, hauteur};
    }
    Rect tuile(int c, int r) const {
        const int x = c * cote, y = r * cote;
        return {x, y, std::min(cote, largeur - x), std::min(cote, hauteur - y)};
    }
};

bool seCroisent(const Rect& a, const Rect& b);

// JPEG of one rectangle of a BGRA frame at quality 0.20 .. 0.90; empty on failure.
std::vector<std::uint8_t> jpegTuile(const ImageBGRA& image, const Rect& r, double qualite);

// Sampled FNV-1a of a tile's pixel bytes (about 600 of them), to notice changed tiles.
std::uint64_t empreinte(const ImageBGRA& image, const Rect& r);

// Builds the F message of one frame: every tile when `tout`, else the tiles meeting a
// changed rectangle (or, with `empreintes`, whose fingerprint changed). `n` gets the tile count.
std::vector<std::uint8_t> messageF(const ImageBGRA& image, const std::vector<Rect>& changes, bool tout, double qualite,
                                   std::pair<int, int> pointeur, std::vector<std::uint64_t>* empreintes, int& n);

// Grabs the main display for the polling engine, already scaled to at most `largeur`.
using Saisie = std::function<std::optional<ImageBGRA>(int largeur)>;
Saisie saisieX11();

std::unique_ptr<Moteur> creerMoteurTuiles(const ContexteMoteur& contexte);
std::unique_ptr<Moteur> creerMoteurTuilesAnciennes(const ContexteMoteur& contexte, asio::io_context& io, Saisie saisie);

}  // namespace vimba::flux
