#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace vimba {

// One decoded picture, BGRA bytes row after row (libyuv's ARGB order in memory).
struct ImageDecodee {
  int largeur = 0;
  int hauteur = 0;
  std::vector<std::uint8_t> bgra;
};

// The viewer's H.264 side: a C message's avcC record configures libavcodec, each V payload
// (length-prefixed units) gives one picture back. Called on the viewer's reading thread only.
class DecodeurH264 {
 public:
  DecodeurH264() = default;
  ~DecodeurH264();
  DecodeurH264(const DecodeurH264&) = delete;
  DecodeurH264& operator=(const DecodeurH264&) = delete;

  // Opens a decoder for this record, replacing the previous one; false when it is refused.
  bool configurer(const std::vector<std::uint8_t>& avcc);
  // True when the sample gave a picture, now in `sortie`; false before any record or on
  // bytes the decoder refuses (the next keyframe recovers).
  bool decoder(const std::uint8_t* donnees, std::size_t taille, ImageDecodee& sortie);
  bool pret() const { return contexte_ != nullptr; }

 private:
  void fermer();

  AVCodecContext* contexte_ = nullptr;
  AVPacket* paquet_ = nullptr;
  AVFrame* image_ = nullptr;
};

}  // namespace vimba

namespace vimba::voir {
class Decodeur;
// C and V for the viewer: the record opens the decoder, each V paints the whole picture.
std::unique_ptr<Decodeur> decodeurH264();
}  // namespace vimba::voir
