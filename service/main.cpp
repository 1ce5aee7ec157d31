// vimba-service: the support service (servir), its technicians' tokens (jeton) and the
// relay's key lookup (cles, for sshd's AuthorizedKeysCommand).
#include <cstdio>
#include <cstring>
#include <string>

#include "service/base.h"
#include "service/config.h"
#include "service/serveur.h"
#include "service/service.h"

using namespace vimba::service;

namespace {

const char* const usage =
    "usage : vimba-service servir [--conf FICHIER] [--CLE VALEUR]…\n"
    "        vimba-service jeton creer NOM | jeton revoquer NOM\n"
    "        vimba-service cles [--base URL] COMPTE TYPE CLE\n";

int jeton(const Config& c) {
  const auto& a = c.arguments;
  if (a.size() != 2 || (a[0] != "creer" && a[0] != "revoquer")) {
    std::fputs(usage, stderr);
    return 2;
  }
  std::string erreur;
  auto r = reglages(c, erreur);
  auto base = r ? ouvrir_base(c.valeur("base", "sqlite:/var/lib/vimba-service/service.db"), false, erreur) : nullptr;
  if (!base) {
    std::fprintf(stderr, "vimba-service : %s\n", erreur.c_str());
    return 1;
  }
  Service service(*base, *r);
  if (!service.preparer(erreur)) {
    std::fprintf(stderr, "vimba-service : %s\n", erreur.c_str());
    return 1;
  }
  if (a[0] == "creer") {
    auto j = service.creer_jeton(a[1], erreur);
    if (!j) {
      std::fprintf(stderr, "vimba-service : %s\n", erreur.c_str());
      return 1;
    }
    std::printf("%s\n", j->c_str());
    return 0;
  }
  if (!service.revoquer_jeton(a[1], erreur)) {
    std::fprintf(stderr, "vimba-service : %s\n", erreur.c_str());
    return 1;
  }
  return 0;
}

int cles(const Config& c) {
  const auto& a = c.arguments;
  if (a.size() != 3) {
    std::fputs(usage, stderr);
    return 2;
  }
  std::string erreur;
  auto r = reglages(c, erreur);
  // Read only: sshd runs this for every key offered, and it must never change the base.
  auto base = r ? ouvrir_base(c.valeur("base", "sqlite:/var/lib/vimba-service/service.db"), true, erreur) : nullptr;
  if (!base) {
    std::fprintf(stderr, "vimba-service : %s\n", erreur.c_str());
    return 1;
  }
  Service service(*base, *r);
  auto lignes = service.lignes_autorisees(a[0], a[1], a[2]);
  if (!lignes) {
    std::fprintf(stderr, "vimba-service : %s\n", base->derniere_erreur().c_str());
    return 1;
  }
  std::fputs(lignes->c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(usage, stderr);
    return 2;
  }
  std::string erreur;
  auto config = lire_config(argc, argv, 2, erreur);
  if (!config) {
    std::fprintf(stderr, "vimba-service : %s\n", erreur.c_str());
    return 2;
  }
  if (std::strcmp(argv[1], "servir") == 0) {
    if (!config->arguments.empty()) {
      std::fputs(usage, stderr);
      return 2;
    }
    return servir(*config);
  }
  if (std::strcmp(argv[1], "jeton") == 0) return jeton(*config);
  if (std::strcmp(argv[1], "cles") == 0) return cles(*config);
  std::fputs(usage, stderr);
  return 2;
}
