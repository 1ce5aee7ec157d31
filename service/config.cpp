#include "service/config.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "service/demandes.h"

namespace vimba::service {
namespace {

constexpr const char* defaut_fichier = "/etc/vimba-service/service.conf";

std::string rogner(std::string s) {
  auto debut = s.find_first_not_of(" \t\r");
  if (debut == std::string::npos) return {};
  return s.substr(debut, s.find_last_not_of(" \t\r") - debut + 1);
}

bool nombre(const std::string& texte, int64_t min, int64_t max, int64_t& v) {
  auto [p, ec] = std::from_chars(texte.data(), texte.data() + texte.size(), v);
  return ec == std::errc() && p == texte.data() + texte.size() && v >= min && v <= max;
}

}  // namespace

std::string Config::valeur(const std::string& cle, const std::string& defaut) const {
  auto it = valeurs.find(cle);
  return it == valeurs.end() ? defaut : it->second;
}

std::optional<Config> lire_config(int argc, char** argv, int debut, std::string& erreur) {
  Config c;
  std::map<std::string, std::string> drapeaux;
  for (int i = debut; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      c.arguments.push_back(a);
      continue;
    }
    if (i + 1 >= argc) {
      erreur = "valeur manquante après " + a;
      return std::nullopt;
    }
    drapeaux[a.substr(2)] = argv[++i];
  }
  std::string fichier = drapeaux.count("conf") ? drapeaux["conf"] : defaut_fichier;
  struct stat st;
  if (drapeaux.count("conf") || stat(fichier.c_str(), &st) == 0) {
    std::ifstream in(fichier);
    if (!in) {
      erreur = "configuration illisible : " + fichier;
      return std::nullopt;
    }
    std::string ligne;
    int numero = 0;
    while (std::getline(in, ligne)) {
      ++numero;
      ligne = rogner(ligne);
      if (ligne.empty() || ligne[0] == '#') continue;
      auto egal = ligne.find('=');
      if (egal == std::string::npos) {
        erreur = fichier + ":" + std::to_string(numero) + " : « cle=valeur » attendu";
        return std::nullopt;
      }
      c.valeurs[rogner(ligne.substr(0, egal))] = rogner(ligne.substr(egal + 1));
    }
  }
  for (auto& [cle, v] : drapeaux) c.valeurs[cle] = v;
  return c;
}

std::optional<Reglages> reglages(const Config& c, std::string& erreur) {
  Reglages r;
  r.relais_hote = c.valeur("relais_hote", r.relais_hote);
  r.relais_compte = c.valeur("relais_compte", r.relais_compte);
  r.relais_cle_hote = c.valeur("relais_cle_hote");
  if (r.relais_cle_hote.empty() && !c.valeur("relais_cle_hote_fichier").empty()) {
    std::ifstream in(c.valeur("relais_cle_hote_fichier"));
    std::getline(in, r.relais_cle_hote);
  }
  if (!r.relais_cle_hote.empty()) {
    auto cle = lire_cle(rogner(r.relais_cle_hote));
    if (!cle) {
      erreur = "clé d’hôte du relais illisible";
      return std::nullopt;
    }
    r.relais_cle_hote = cle->sans_commentaire();
  }
  struct Nombre {
    const char* cle;
    int64_t* v;
    int64_t min, max;
  } nombres[] = {
      {"relais_port", &r.relais_port, 1, 65535},
      {"duree_code", &r.duree_code, 1, 86400},
      {"duree_session", &r.duree_session, 60, 7 * 86400},
      {"limite_adresse", &r.limite_adresse, 1, 1000000000},
      {"limite_globale", &r.limite_globale, 1, 1000000000},
      {"sondage_ms", &r.sondage_ms, 10, 5000},
  };
  for (auto& n : nombres) {
    std::string t = c.valeur(n.cle);
    if (!t.empty() && !nombre(t, n.min, n.max, *n.v)) {
      erreur = std::string("valeur invalide pour ") + n.cle;
      return std::nullopt;
    }
  }
  std::string ports = c.valeur("ports");
  if (!ports.empty()) {
    auto tiret = ports.find('-');
    if (tiret == std::string::npos || !nombre(ports.substr(0, tiret), 1024, 65535, r.port_min) ||
        !nombre(ports.substr(tiret + 1), r.port_min, 65535, r.port_max)) {
      erreur = "ports : « MIN-MAX » attendu, entre 1024 et 65535";
      return std::nullopt;
    }
  }
  return r;
}

}  // namespace vimba::service
