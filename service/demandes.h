#pragma once
// Reading what callers send: routes, JSON bodies, SSH public keys. Pure functions with no
// storage behind them (the fuzz target drives them directly); any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vimba::service {

enum class Appel { sante, creer_code, accepter, prete, attendre, fermer, inconnu };

struct Route {
  Appel appel = Appel::inconnu;
  std::string session;  // the ID of /v1/sessions/ID/…
};

Route lire_route(std::string_view methode, std::string_view chemin);

// An OpenSSH public key whose blob agrees with its declared type.
struct CleSsh {
  std::string type, blob, commentaire;
  std::string sans_commentaire() const { return type + " " + blob; }
  std::string texte() const { return commentaire.empty() ? sans_commentaire() : sans_commentaire() + " " + commentaire; }
};
std::optional<CleSsh> lire_cle(std::string_view texte);

struct DemandeCode {
  std::string nom;
  CleSsh cle;
};
struct DemandeAcceptation {
  std::string code;
  CleSsh cle_tunnel;
};
struct DemandePrete {
  int64_t port_tunnel = 0;
  CleSsh cle_hote;
  std::string compte;
};

// Either the value or the French reason it was refused (answered with status 400).
template <class T>
using Lu = std::variant<T, std::string>;

Lu<DemandeCode> lire_demande_code(std::string_view corps);
Lu<DemandeAcceptation> lire_acceptation(std::string_view corps);
Lu<DemandePrete> lire_prete(std::string_view corps);
// The wait of ?delai=S, at most 30 s; 30 when absent.
Lu<int> lire_delai(const std::optional<std::string>& texte);
// The credential of "Authorization: Bearer X"; empty when absent or malformed.
std::string lire_porteur(std::string_view entete);
bool identifiant_session_valide(std::string_view id);

}  // namespace vimba::service
