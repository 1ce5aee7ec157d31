#include "service/demandes.h"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>

#include "service/aleatoire.h"

namespace vimba::service {
namespace {

using nlohmann::json;

constexpr std::array types_cles{
    "ssh-ed25519", "ecdsa-sha2-nistp256", "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp521",
    "sk-ssh-ed25519@openssh.com", "sk-ecdsa-sha2-nistp256@openssh.com", "ssh-rsa"};

// Parses an object, or says why not. nlohmann rejects invalid UTF-8 while parsing.
std::optional<json> objet(std::string_view corps, std::string& erreur) {
  json j = json::parse(corps, nullptr, false);
  if (j.is_discarded()) {
    erreur = "JSON illisible";
    return std::nullopt;
  }
  if (!j.is_object()) {
    erreur = "un objet JSON est attendu";
    return std::nullopt;
  }
  return j;
}

std::optional<std::string> texte(const json& j, const char* champ, std::string& erreur) {
  auto it = j.find(champ);
  if (it == j.end() || !it->is_string()) {
    erreur = std::string("champ « ") + champ + " » manquant ou non textuel";
    return std::nullopt;
  }
  return it->get<std::string>();
}

bool sans_controle(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

std::optional<CleSsh> cle_champ(const json& j, const char* champ, std::string& erreur) {
  auto t = texte(j, champ, erreur);
  if (!t) return std::nullopt;
  auto cle = lire_cle(*t);
  if (!cle) erreur = std::string("« ") + champ + " » n’est pas une clé publique SSH valable";
  return cle;
}

}  // namespace

Route lire_route(std::string_view methode, std::string_view chemin) {
  Route r;
  const bool get = methode == "GET", post = methode == "POST";
  if (chemin == "/v1/sante") {
    if (get) r.appel = Appel::sante;
    return r;
  }
  if (chemin == "/v1/codes") {
    if (post) r.appel = Appel::creer_code;
    return r;
  }
  if (chemin == "/v1/codes/accepter") {
    if (post) r.appel = Appel::accepter;
    return r;
  }
  constexpr std::string_view prefixe = "/v1/sessions/";
  if (chemin.substr(0, prefixe.size()) != prefixe) return r;
  std::string_view reste = chemin.substr(prefixe.size());
  auto barre = reste.find('/');
  if (barre == std::string_view::npos) return r;
  std::string_view id = reste.substr(0, barre), action = reste.substr(barre + 1);
  if (!identifiant_session_valide(id)) return r;
  if (action == "prete" && post) r.appel = Appel::prete;
  else if (action == "attendre" && get) r.appel = Appel::attendre;
  else if (action == "fermer" && post) r.appel = Appel::fermer;
  if (r.appel != Appel::inconnu) r.session = std::string(id);
  return r;
}

bool identifiant_session_valide(std::string_view id) {
  if (id.size() != 32) return false;
  for (char c : id)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::optional<CleSsh> lire_cle(std::string_view t) {
  // One line: type, base64 blob, optional comment. Anything that could break an
  // authorized_keys line (controls, line ends) is refused outright.
  if (t.size() > 16384 || !sans_controle(t)) return std::nullopt;
  auto espace = t.find(' ');
  if (espace == std::string_view::npos) return std::nullopt;
  CleSsh cle;
  cle.type = std::string(t.substr(0, espace));
  std::string_view reste = t.substr(espace + 1);
  auto fin = reste.find(' ');
  cle.blob = std::string(reste.substr(0, fin));
  if (fin != std::string_view::npos) cle.commentaire = std::string(reste.substr(fin + 1));
  bool connu = false;
  for (const char* type : types_cles) connu = connu || cle.type == type;
  if (!connu) return std::nullopt;
  auto octets = decoder_base64(cle.blob);
  // The blob starts with its own type as an SSH string (32-bit length, then the name).
  if (!octets || octets->size() < 4 + cle.type.size()) return std::nullopt;
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n = (n << 8) | uint8_t((*octets)[i]);
  if (n != cle.type.size() || octets->compare(4, n, cle.type) != 0) return std::nullopt;
  if (octets->size() == 4 + n) return std::nullopt;
  return cle;
}

Lu<DemandeCode> lire_demande_code(std::string_view corps) {
  std::string erreur;
  auto j = objet(corps, erreur);
  if (!j) return erreur;
  auto nom = texte(*j, "nom", erreur);
  if (!nom) return erreur;
  if (nom->empty() || nom->size() > 100 || !sans_controle(*nom)) return std::string("nom invalide (1 à 100 octets, sans caractère de contrôle)");
  auto cle = cle_champ(*j, "cle", erreur);
  if (!cle) return erreur;
  return DemandeCode{*nom, *cle};
}

Lu<DemandeAcceptation> lire_acceptation(std::string_view corps) {
  std::string erreur;
  auto j = objet(corps, erreur);
  if (!j) return erreur;
  auto code = texte(*j, "code", erreur);
  if (!code) return erreur;
  // Read over the phone: spaces between the digits are harmless.
  std::string chiffres;
  for (char c : *code) {
    if (c == ' ') continue;
    if (c < '0' || c > '9' || chiffres.size() == 6) return std::string("le code a six chiffres");
    chiffres += c;
  }
  if (chiffres.size() != 6) return std::string("le code a six chiffres");
  auto cle = cle_champ(*j, "cle_tunnel", erreur);
  if (!cle) return erreur;
  return DemandeAcceptation{chiffres, *cle};
}

Lu<DemandePrete> lire_prete(std::string_view corps) {
  std::string erreur;
  auto j = objet(corps, erreur);
  if (!j) return erreur;
  auto port = j->find("port_tunnel");
  if (port == j->end() || !port->is_number_integer()) return std::string("champ « port_tunnel » manquant ou non entier");
  int64_t p = port->get<int64_t>();
  if (p < 1 || p > 65535) return std::string("port_tunnel hors de 1–65535");
  auto cle = cle_champ(*j, "cle_hote", erreur);
  if (!cle) return erreur;
  auto compte = texte(*j, "compte", erreur);
  if (!compte) return erreur;
  // A POSIX account name, since the technician's ssh puts it on its command line.
  bool bon = !compte->empty() && compte->size() <= 32 && ((*compte)[0] == '_' || ((*compte)[0] >= 'a' && (*compte)[0] <= 'z'));
  for (char c : *compte)
    bon = bon && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-');
  if (!bon) return std::string("compte invalide");
  return DemandePrete{p, *cle, *compte};
}

Lu<int> lire_delai(const std::optional<std::string>& t) {
  if (!t) return 30;
  int v = 0;
  auto [p, ec] = std::from_chars(t->data(), t->data() + t->size(), v);
  if (ec != std::errc() || p != t->data() + t->size() || v < 0) return std::string("délai invalide (secondes, 0 à 30)");
  return std::min(v, 30);
}

std::string lire_porteur(std::string_view entete) {
  constexpr std::string_view prefixe = "Bearer ";
  if (entete.substr(0, prefixe.size()) != prefixe) return {};
  std::string_view v = entete.substr(prefixe.size());
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  if (v.empty() || v.size() > 256) return {};
  // Tokens and secrets are base64url; anything else cannot match, so it is not even looked up.
  for (unsigned char c : v)
    if (c <= 0x20 || c >= 0x7f) return {};
  return std::string(v);
}

}  // namespace vimba::service
