#pragma once
#include <cstdint>

namespace vimba {

// A borrowed view of one NV12 picture (full range): the encoder copies what it needs
// before returning, so the pixels only have to live for the call.
struct ImageNV12 {
  int largeur = 0;
  int hauteur = 0;
  const std::uint8_t* y = nullptr;
  int pasY = 0;
  const std::uint8_t* uv = nullptr;
  int pasUV = 0;
};

}  // namespace vimba
