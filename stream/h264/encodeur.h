#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "stream/h264/image_nv12.h"

struct x264_t;

namespace vimba {

using Octets = std::vector<std::uint8_t>;

// One x264 session: NV12 pictures in, length-prefixed access units out through `livrer`,
// with the avcC record on the first keyframe and whenever it changes.
// Any thread may call it; `livrer` runs on the thread that called `encoder`, under the
// session lock, so it must not call back into the encoder (the engine only queues work).
class Encodeur {
 public:
  using Livraison = std::function<void(Octets octets, bool cle, std::optional<Octets> reglages)>;

  // Veryfast keeps CABAC and, on a 1440×900 desktop at 2 Mbit/s, gives 2–4 dB more than
  // superfast for a third more CPU (bench/h264). A parameter only for that benchmark.
  explicit Encodeur(std::string preset = "veryfast") : preset_(std::move(preset)) {}
  ~Encodeur();
  Encodeur(const Encodeur&) = delete;
  Encodeur& operator=(const Encodeur&) = delete;

  bool demarrer(int largeur, int hauteur, int debitBits, int imagesParSeconde);
  void encoder(const ImageNV12& image, bool forcerImageComplete = false);
  void regler(int debit);
  void arreter();

  bool vivant() const;
  int debit() const;
  void definirLivrer(Livraison livrer);

 private:
  void arreterVerrouille();
  bool lireEnTetes();

  const std::string preset_;
  mutable std::mutex verrou_;
  x264_t* session_ = nullptr;
  std::int64_t horloge_ = 0;
  std::optional<Octets> reglages_;
  Octets enTetes_;  // the record the current parameter sets give
  int debit_ = 0;
  int largeur_ = 0;
  int hauteur_ = 0;
  Livraison livrer_;
};

// Builds an AVCDecoderConfigurationRecord from length-prefixed SPS and PPS units.
// Empty when the units are malformed.
Octets enregistrementAvcC(const Octets& sps, const Octets& pps);

}  // namespace vimba
