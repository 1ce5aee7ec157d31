#include "service/base.h"

#include <charconv>

namespace vimba::service {

std::unique_ptr<Base> ouvrir_base(const std::string& url, bool lecture_seule, std::string& erreur,
                                  SurDisque disque) {
  if (url.rfind("sqlite:", 0) == 0) return ouvrir_sqlite(url.substr(7), lecture_seule, disque, erreur);
  if (url.empty()) {
    erreur = "aucune base configurée";
    return nullptr;
  }
  return ouvrir_postgres(url, disque, erreur);
}

int64_t entier(const std::optional<std::string>& texte) {
  if (!texte) return 0;
  int64_t v = 0;
  auto [p, ec] = std::from_chars(texte->data(), texte->data() + texte->size(), v);
  if (ec != std::errc() || p != texte->data() + texte->size()) return 0;
  return v;
}

}  // namespace vimba::service
