#include "app/pont.h"

#include <nlohmann/json.hpp>

namespace vimba {

void agir(const MessagePage& m, const ActionsPage& a) {
    if (m.action == "fermer") a.fermer();
    else if (m.action == "code") a.ouvrir(m.code.value_or(""));
    else if (m.action == "arreter") a.refermer();
    else if (m.action == "reprendre") a.activer();
    else if (m.action == "autorise") a.autoriser();
    else if (m.action == "revoir-autorisations") a.direLesAutorisations();
}

namespace {

// ASCII only: U+2028 and U+2029 end a line in older script parsers, and a byte that is not
// UTF-8 becomes U+FFFD instead of an exception.
std::string chaineJson(const std::string& t) {
    return nlohmann::json(t).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string scriptReponse(const std::string& sorte, const std::string& texte) {
    return "repondre(" + chaineJson(sorte) + "," + chaineJson(texte) + ")";
}

std::string texteAutorisations(bool voitEcran, bool peutAgir) {
    return std::string(voitEcran ? "1" : "0") + " " + (peutAgir ? "1" : "0");
}

}  // namespace vimba
