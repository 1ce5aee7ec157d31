#include "stream/h264/logique_h264.h"

#include <algorithm>

namespace vimba {

std::int64_t debitDeDepart(int largeur, int hauteur, double qualite) {
  if (largeur <= 0 || hauteur <= 0) return 400000;
  const double b = qualite * 0.12 * (static_cast<double>(largeur) * hauteur * 30.0);
  return std::clamp<std::int64_t>(static_cast<std::int64_t>(b), 400000, 8000000);
}

std::int64_t seuilEnVol(std::int64_t debitActuel) { return debitActuel >= 1024000 ? debitActuel / 32 : 32000; }

std::optional<bool> deciderCapture(EtatH264& etat, bool lienPret, bool encodeurVivant, bool aucunChangement) {
  if (!lienPret || !encodeurVivant) return std::nullopt;
  const bool forcer = etat.toutRenvoyer.load();
  if (!forcer && aucunChangement && etat.muettes.load() <= 29) {
    etat.muettes.fetch_add(1);
    return std::nullopt;
  }
  etat.muettes.store(0);
  if (etat.octetsEnVol.load() > seuilEnVol(etat.debitActuel.load())) {
    etat.sautees.fetch_add(1);
    return std::nullopt;
  }
  // Only the frame actually submitted clears the request, and only a request it saw: a new
  // viewer that asked meanwhile still gets its keyframe on the next frame.
  if (forcer) etat.toutRenvoyer.store(false);
  return forcer;
}

std::string enTeteC(std::size_t longueur) { return "C " + std::to_string(longueur) + "\n"; }

std::string enTeteV(int largeur, int hauteur, std::size_t longueur, int px, int py, bool cle) {
  return "V " + std::to_string(largeur) + " " + std::to_string(hauteur) + " " + std::to_string(longueur) + " " +
         std::to_string(px) + " " + std::to_string(py) + " " + (cle ? "1" : "0") + "\n";
}

namespace {
std::vector<std::uint8_t> message(const std::string& tete, const std::vector<std::uint8_t>& corps) {
  std::vector<std::uint8_t> m(tete.begin(), tete.end());
  m.insert(m.end(), corps.begin(), corps.end());
  return m;
}
}  // namespace

std::size_t envoyerVideo(SortieVideo& sortie, int largeur, int hauteur, const std::vector<std::uint8_t>& octets, bool cle,
                         const std::optional<std::vector<std::uint8_t>>& reglages) {
  if (!sortie.pret()) return 0;
  if (reglages) sortie.envoyer(message(enTeteC(reglages->size()), *reglages));
  const auto [px, py] = sortie.pointeur();
  auto v = message(enTeteV(largeur, hauteur, octets.size(), px, py, cle), octets);
  const std::size_t taille = v.size();
  sortie.envoyer(std::move(v));
  sortie.trameEnvoyee(largeur, hauteur);
  return taille;
}

std::optional<std::int64_t> MesureDebit::pas(EtatH264& etat) {
  std::optional<std::int64_t> nouveau;
  const std::int64_t actuel = etat.debitActuel.load();
  if (etat.sautees.load() >= 3) {
    nouveau = std::max<std::int64_t>(static_cast<std::int64_t>(actuel * 0.7), 300000);
    calmes_ = 0;
  } else {
    calmes_ += 1;
    const std::int64_t vise = etat.debitVise.load();
    if (calmes_ >= 2 && actuel < vise) {
      nouveau = std::min<std::int64_t>(static_cast<std::int64_t>(actuel * 1.25), vise);
      calmes_ = 0;
    }
  }
  if (nouveau) etat.debitActuel.store(*nouveau);
  etat.sautees.store(0);
  return nouveau;
}

}  // namespace vimba
