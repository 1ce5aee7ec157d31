// libFuzzer target: whatever a caller sends, reading it ends in a value or a French
// refusal, and an accepted key never carries what could break an authorized_keys line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "service/demandes.h"

using namespace vimba::service;

namespace {

void propre(const CleSsh& c) {
  for (char x : c.texte())
    if (static_cast<unsigned char>(x) < 0x20 || x == 0x7f) std::abort();
  if (c.type.find_first_of(" \"") != std::string::npos || c.blob.find_first_of(" \",") != std::string::npos) std::abort();
}

template <class T>
const T* valeur(const Lu<T>& lu) {
  if (auto* e = std::get_if<std::string>(&lu)) {
    if (e->empty()) std::abort();
    return nullptr;
  }
  return &std::get<T>(lu);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
  if (taille == 0) return 0;
  // The first byte picks what the rest is read as.
  const std::string_view t(reinterpret_cast<const char*>(donnees) + 1, taille - 1);
  switch (donnees[0] % 7) {
    case 0:
      if (auto lu = lire_demande_code(t); auto* v = valeur(lu)) {
        propre(v->cle);
        if (v->nom.empty()) std::abort();
      }
      break;
    case 1:
      if (auto lu = lire_acceptation(t); auto* v = valeur(lu)) {
        propre(v->cle_tunnel);
        if (v->code.size() != 6 || v->code.find_first_not_of("0123456789") != std::string::npos) std::abort();
      }
      break;
    case 2:
      if (auto lu = lire_prete(t); auto* v = valeur(lu)) {
        propre(v->cle_hote);
        if (v->port_tunnel < 1 || v->port_tunnel > 65535 || v->compte.empty() || v->compte[0] == '-') std::abort();
      }
      break;
    case 3:
      if (auto c = lire_cle(t)) propre(*c);
      break;
    case 4: {
      auto barre = t.find(' ');
      Route r = lire_route(t.substr(0, barre), barre == std::string_view::npos ? "" : t.substr(barre + 1));
      if (r.appel != Appel::inconnu && r.appel != Appel::sante && r.appel != Appel::creer_code &&
          r.appel != Appel::accepter && !identifiant_session_valide(r.session))
        std::abort();
      break;
    }
    case 5:
      if (auto lu = lire_delai(std::string(t)); auto* v = valeur(lu)) {
        if (*v < 0 || *v > 30) std::abort();
      }
      break;
    case 6:
      for (unsigned char c : lire_porteur(t))
        if (c <= 0x20 || c >= 0x7f) std::abort();
      break;
  }
  return 0;
}
