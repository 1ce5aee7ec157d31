#include "app/pont.h"

namespace vimba {

void agir(const MessagePage& m, const ActionsPage& a) {
    if (m.action == "fermer") a.fermer();
    else if (m.action == "code") a.ouvrir(m.code.value_or(""));
    else if (m.action == "arreter") a.refermer();
    else if (m.action == "reprendre") a.activer();
    else if (m.action == "autorise") a.autoriser();
    else if (m.action == "revoir-autorisations") a.direLesAutorisations();
}

std::string echapper(const std::string& texte) {
    std::string r;
    r.reserve(texte.size() + 8);
    for (char c : texte) {
        if (c == '\\') r += "\\\\";
        else if (c == '\'') r += "\\'";
        else if (c == '\n') r += ' ';
        else r += c;
    }
    return r;
}

std::string scriptReponse(const std::string& sorte, const std::string& texte) {
    return "repondre('" + sorte + "','" + echapper(texte) + "')";
}

std::string texteAutorisations(bool voitEcran, bool peutAgir) {
    return std::string(voitEcran ? "1" : "0") + " " + (peutAgir ? "1" : "0");
}

}  // namespace vimba
