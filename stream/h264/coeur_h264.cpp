#include "stream/h264/coeur_h264.h"

namespace vimba {

std::shared_ptr<CoeurH264> CoeurH264::creer(std::shared_ptr<SortieVideo> sortie, Poster poster) {
  return std::shared_ptr<CoeurH264>(new CoeurH264(sortie, std::move(poster)));
}

CoeurH264::~CoeurH264() { encodeur_.arreter(); }

bool CoeurH264::demarrer(int largeur, int hauteur, double qualite) {
  if (largeur <= 0 || hauteur <= 0) return false;
  const std::int64_t b = debitDeDepart(largeur, hauteur, qualite);
  etat_.debitVise = b;
  etat_.debitActuel = b;
  if (!encodeur_.demarrer(largeur, hauteur, static_cast<int>(b), 60)) return false;
  largeur_ = largeur;
  hauteur_ = hauteur;
  // Frames come out on the capture thread; they are sent from the server's queue, in order
  // with everything else it sends, and dropped if the engine is gone by then.
  std::weak_ptr<CoeurH264> faible = weak_from_this();
  encodeur_.definirLivrer([faible, poster = poster_](Octets octets, bool cle, std::optional<Octets> reglages) {
    poster([faible, octets = std::move(octets), cle, reglages = std::move(reglages)] {
      if (auto moi = faible.lock()) moi->envoyer(octets, cle, reglages);
    });
  });
  etat_.toutRenvoyer = true;
  etat_.muettes = 0;
  etat_.sautees = 0;
  return true;
}

void CoeurH264::capturee(const ImageNV12& image, bool aucunChangement) {
  const auto forcer = deciderCapture(etat_, sortie_->pretPourCapture(), encodeur_.vivant(), aucunChangement);
  if (forcer) encodeur_.encoder(image, *forcer);
}

void CoeurH264::envoyer(const Octets& octets, bool cle, const std::optional<Octets>& reglages) {
  const std::size_t taille = envoyerVideo(*sortie_, largeur_, hauteur_, octets, cle, reglages);
  if (taille == 0) return;
  images_ += 1;
  octets_ += taille;
}

void CoeurH264::mesurer() {
  if (!encodeur_.vivant()) return;
  if (const auto debit = mesure_.pas(etat_)) encodeur_.regler(static_cast<int>(*debit));
}

void CoeurH264::arreter() { encodeur_.arreter(); }

}  // namespace vimba
