#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "stream/h264/encodeur.h"
#include "stream/h264/image_nv12.h"
#include "stream/h264/logique_h264.h"

namespace vimba {

// The H.264 engine between the capture source and the viewer's link: the encoder, the drop
// policy, the C/V sending and the 2 s bitrate step. `capturee` runs on the capture thread;
// encoded frames are moved to the server's queue (`poster`) and everything else runs there.
class CoeurH264 : public std::enable_shared_from_this<CoeurH264> {
 public:
  using Poster = std::function<void(std::function<void()>)>;

  // `poster` queues work on the server's thread. The core keeps `sortie` alive: a frame in
  // delivery on the capture thread may outlast the engine that made both.
  static std::shared_ptr<CoeurH264> creer(std::shared_ptr<SortieVideo> sortie, Poster poster);
  ~CoeurH264();

  // Starts the encoder for pictures of this size; the rate comes from the size and quality.
  // The first frame will be a forced keyframe with its record.
  bool demarrer(int largeur, int hauteur, double qualite);
  void capturee(const ImageNV12& image, bool aucunChangement);
  void mesurer();
  void arreter();

  EtatH264& etat() { return etat_; }
  const Encodeur& encodeur() const { return encodeur_; }
  std::uint64_t images() const { return images_; }
  std::uint64_t octets() const { return octets_; }

 private:
  CoeurH264(std::shared_ptr<SortieVideo> sortie, Poster poster) : sortie_(std::move(sortie)), poster_(std::move(poster)) {}
  void envoyer(const Octets& octets, bool cle, const std::optional<Octets>& reglages);

  const std::shared_ptr<SortieVideo> sortie_;
  Poster poster_;
  Encodeur encodeur_;
  EtatH264 etat_;
  MesureDebit mesure_;
  std::atomic<int> largeur_{0};
  std::atomic<int> hauteur_{0};
  std::atomic<std::uint64_t> images_{0};
  std::atomic<std::uint64_t> octets_{0};
};

}  // namespace vimba
