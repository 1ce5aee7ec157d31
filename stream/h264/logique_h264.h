#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vimba {

// Starting bitrate from the picture size and the quality: 0.12 × qualite bit per pixel
// per frame at 30 frames per second, kept within 400 kbit/s .. 8 Mbit/s.
std::int64_t debitDeDepart(int largeur, int hauteur, double qualite);

// Bytes allowed in flight before a frame is dropped: a quarter of a second at the
// current rate, 32000 at least.
std::int64_t seuilEnVol(std::int64_t debitActuel);

// The state the drop decision shares between the capture thread and the server's
// thread; every field is atomic so neither side needs the other's lock.
struct EtatH264 {
  std::atomic<bool> toutRenvoyer{false};
  std::atomic<int> muettes{0};
  std::atomic<int> sautees{0};
  std::atomic<std::int64_t> debitActuel{0};
  std::atomic<std::int64_t> debitVise{0};
  std::atomic<std::int64_t> octetsEnVol{0};
};

// The drop policy for one captured frame, on the capture thread: nothing when the frame
// is skipped (still, or too much in flight), otherwise whether to force a keyframe.
std::optional<bool> deciderCapture(EtatH264& etat, bool lienPret, bool encodeurVivant, bool aucunChangement);

// The V and C message headers of the wire format.
std::string enTeteC(std::size_t longueur);
std::string enTeteV(int largeur, int hauteur, std::size_t longueur, int px, int py, bool cle);

// Where encoded frames go, on the server's thread: the viewer's link and the pointer.
class SortieVideo {
 public:
  virtual ~SortieVideo() = default;
  virtual bool pret() const = 0;
  // The same answer for the capture thread, which may not ask the link itself.
  virtual bool pretPourCapture() const { return pret(); }
  virtual void envoyer(std::vector<std::uint8_t> message) = 0;
  virtual std::pair<int, int> pointeur() const = 0;
  // A V message went out (the heartbeat counts from here).
  virtual void trameEnvoyee(int /*largeur*/, int /*hauteur*/) {}
};

// Sends one encoded frame: its C message first when it carries a new record, then its V
// message. Returns the size of the V message (counted in `octets`), 0 when nothing went.
std::size_t envoyerVideo(SortieVideo& sortie, int largeur, int hauteur, const std::vector<std::uint8_t>& octets, bool cle,
                         const std::optional<std::vector<std::uint8_t>>& reglages);

// The 2 s measurement step, on the server's thread: falls by 30 % after three or more
// congestion drops (300 kbit/s floor), climbs by 25 % after two calm periods (up to the
// target). Returns the new rate to give the encoder when it changed.
class MesureDebit {
 public:
  std::optional<std::int64_t> pas(EtatH264& etat);
  int calmes() const { return calmes_; }

 private:
  int calmes_ = 0;
};

}  // namespace vimba
