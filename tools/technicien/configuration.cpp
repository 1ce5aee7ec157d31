#include "tools/technicien/configuration.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/technicien/processus.h"

namespace vimba::technicien {

namespace {

const char* const nomCle = "cle_ed25519";

std::string env(const char* nom) {
    const char* v = std::getenv(nom);
    return v ? v : "";
}

std::string rogner(const std::string& s) {
    const auto debut = s.find_first_not_of(" \t\r");
    if (debut == std::string::npos) return {};
    return s.substr(debut, s.find_last_not_of(" \t\r") - debut + 1);
}

bool creerDossiers(const std::string& chemin) {
    for (std::size_t i = 1; i <= chemin.size(); ++i) {
        if (i < chemin.size() && chemin[i] != '/') continue;
        const std::string partie = chemin.substr(0, i);
        if (::mkdir(partie.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(chemin.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string nomParDefaut() {
    const passwd* pw = ::getpwuid(::getuid());
    if (!pw) return "technicien";
    std::string gecos = pw->pw_gecos ? pw->pw_gecos : "";
    gecos = rogner(gecos.substr(0, gecos.find(',')));
    return gecos.empty() ? pw->pw_name : gecos;
}

bool boucleLocale(const std::string& hote) {
    in_addr v4{};
    return hote == "localhost" || hote == "[::1]" ||
           (::inet_pton(AF_INET, hote.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127);
}

bool estDansAlphabet(const std::string& s, const char* alphabet) {
    return !s.empty() && s.find_first_not_of(alphabet) == std::string::npos;
}

}  // namespace

bool ecrireFichier(const std::string& chemin, const std::string& contenu, unsigned mode) {
    const std::string provisoire = chemin + ".tmp-" + std::to_string(::getpid());
    const int fd = ::open(provisoire.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0;
    std::size_t fait = 0;
    while (ok && fait < contenu.size()) {
        const ssize_t n = ::write(fd, contenu.data() + fait, contenu.size() - fait);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) fait += static_cast<std::size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(provisoire.c_str(), chemin.c_str()) == 0;
    if (!ok) ::unlink(provisoire.c_str());
    return ok;
}

std::optional<Configuration> lireConfiguration(std::string& erreur) {
    Configuration c;
    std::string base = env("XDG_CONFIG_HOME");
    if (base.empty() || base[0] != '/') {
        const std::string maison = env("HOME");
        if (maison.empty()) {
            erreur = "ni XDG_CONFIG_HOME ni HOME ne sont définis : pas de dossier pour la configuration";
            return std::nullopt;
        }
        base = maison + "/.config";
    }
    c.dossier = base + "/vimba-technicien";
    if (!creerDossiers(c.dossier)) {
        erreur = "impossible de créer le dossier " + c.dossier + " : " + std::strerror(errno);
        return std::nullopt;
    }
    // It holds the private key and the token: nobody else looks in.
    ::chmod(c.dossier.c_str(), 0700);
    std::ifstream f(c.dossier + "/service.conf");
    std::string ligne;
    while (std::getline(f, ligne)) {
        ligne = rogner(ligne);
        const auto egal = ligne.find('=');
        if (ligne.empty() || ligne[0] == '#' || egal == std::string::npos) continue;
        const std::string cle = rogner(ligne.substr(0, egal)), valeur = rogner(ligne.substr(egal + 1));
        if (cle == "adresse") c.adresse = valeur;
        else if (cle == "jeton") c.jeton = valeur;
        else if (cle == "nom") c.nom = valeur;
        else if (cle == "ca") c.ca = valeur;
    }
    if (!env("VIMBA_SERVICE").empty()) c.adresse = env("VIMBA_SERVICE");
    if (!env("VIMBA_JETON").empty()) c.jeton = env("VIMBA_JETON");
    if (!env("VIMBA_NOM").empty()) c.nom = env("VIMBA_NOM");
    while (!c.adresse.empty() && c.adresse.back() == '/') c.adresse.pop_back();
    if (c.nom.empty()) c.nom = nomParDefaut();
    return c;
}

bool verifierService(const Configuration& c, std::string& erreur) {
    const std::string conf = c.dossier + "/service.conf";
    if (c.adresse.empty()) {
        erreur = "adresse du service inconnue : définissez VIMBA_SERVICE ou « adresse=https://… » dans " + conf;
        return false;
    }
    const bool https = c.adresse.rfind("https://", 0) == 0, http = c.adresse.rfind("http://", 0) == 0;
    if (!https && !http) {
        erreur = "adresse du service invalide (« " + c.adresse + " ») : elle commence par https://";
        return false;
    }
    if (http) {
        const std::string autorite = c.adresse.substr(7, c.adresse.find_first_of("/?#", 7) - 7);
        const auto fin = autorite[0] == '[' ? autorite.find(']') + 1 : autorite.find(':');
        const std::string hote = autorite.substr(0, fin), reste = fin < autorite.size() ? autorite.substr(fin) : "";
        const bool portSeul = reste.empty() || (reste.size() > 1 && reste[0] == ':' && reste.find_first_not_of("0123456789", 1) == std::string::npos);
        if (!portSeul || !boucleLocale(hote)) {
            erreur = "adresse en http:// refusée hors de cette machine (« " + c.adresse + " ») : le jeton passerait en clair";
            return false;
        }
    }
    if (c.jeton.empty()) {
        erreur = "jeton d’API absent : définissez VIMBA_JETON ou « jeton=… » dans " + conf;
        return false;
    }
    return true;
}

std::string cheminCle(const Configuration& c) { return c.dossier + "/" + nomCle; }

std::optional<std::string> clePrivee(const Configuration& c, std::string& erreur) {
    const std::string prive = cheminCle(c), publique = prive + ".pub";
    if (::access(prive.c_str(), R_OK) != 0) {
        ::unlink(publique.c_str());
        const Sortie s = executer({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "vimba-technicien " + c.nom, "-f", prive}, {}, 30);
        if (s.statut != 0) {
            erreur = "impossible de créer la clé SSH du technicien" + (s.erreurs.empty() ? std::string(" (ssh-keygen est-il installé ?)") : " : " + rogner(s.erreurs));
            ::unlink(prive.c_str());
            return std::nullopt;
        }
    }
    if (::access(publique.c_str(), R_OK) != 0) {
        const Sortie s = executer({"ssh-keygen", "-y", "-f", prive}, {}, 30);
        if (s.statut != 0 || !ecrireFichier(publique, s.sortie, 0600)) {
            erreur = "la clé publique " + publique + " ne peut pas être refaite";
            return std::nullopt;
        }
    }
    ::chmod(prive.c_str(), 0600);
    ::chmod(publique.c_str(), 0600);
    return prive;
}

std::optional<std::string> clePublique(const Configuration& c, std::string& erreur) {
    const auto prive = clePrivee(c, erreur);
    if (!prive) return std::nullopt;
    std::ifstream f(*prive + ".pub");
    std::string ligne;
    std::getline(f, ligne);
    ligne = rogner(ligne);
    if (!cleValide(ligne)) {
        erreur = "clé publique illisible dans " + *prive + ".pub";
        return std::nullopt;
    }
    return ligne;
}

bool hoteValide(const std::string& hote) {
    return hote.size() < 256 && hote[0] != '-' && estDansAlphabet(hote, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:");
}

bool compteValide(const std::string& compte) {
    return compte.size() < 64 && compte[0] != '-' && estDansAlphabet(compte, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-");
}

bool cleValide(const std::string& cle) {
    // "type base64 [comment]" on one line; only the first two words are used.
    std::istringstream mots(cle);
    std::string type, corps;
    if (!(mots >> type >> corps) || cle.size() > 16384) return false;
    for (const char ch : cle)
        if (static_cast<unsigned char>(ch) < 0x20) return false;
    return estDansAlphabet(type, "abcdefghijklmnopqrstuvwxyz0123456789-@.") &&
           estDansAlphabet(corps, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=");
}

std::optional<Session> lireSession(const Configuration& c) {
    std::ifstream f(c.dossier + "/session.json");
    if (!f) return std::nullopt;
    const auto j = nlohmann::json::parse(f, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    try {
        Session s;
        s.adresse = j.at("adresse");
        s.id = j.at("session");
        s.code = j.value("code", "");
        s.expire = j.value("expire", std::int64_t{0});
        s.execution = j.value("execution", "");
        if (j.contains("relais")) {
            const auto& r = j["relais"];
            s.prete = true;
            s.relais = {r.at("hote"), r.at("port"), r.at("compte"), r.at("cle_hote"), r.at("port_tunnel")};
            const auto& o = j.at("ordinateur");
            s.ordinateur = {o.at("port_tunnel"), o.at("cle_hote"), o.at("compte")};
        }
        return s;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

bool ecrireSession(const Configuration& c, const Session& s, std::string& erreur) {
    nlohmann::json j = {{"adresse", s.adresse}, {"session", s.id}, {"code", s.code}, {"expire", s.expire}};
    if (!s.execution.empty()) j["execution"] = s.execution;
    if (s.prete) {
        j["relais"] = {{"hote", s.relais.hote}, {"port", s.relais.port}, {"compte", s.relais.compte},
                       {"cle_hote", s.relais.cleHote}, {"port_tunnel", s.relais.portTunnel}};
        j["ordinateur"] = {{"port_tunnel", s.ordinateur.portTunnel}, {"cle_hote", s.ordinateur.cleHote}, {"compte", s.ordinateur.compte}};
    }
    if (ecrireFichier(c.dossier + "/session.json", j.dump(2) + "\n", 0600)) return true;
    erreur = "impossible d’enregistrer la session dans " + c.dossier + " : " + std::strerror(errno);
    return false;
}

void oublierSession(const Configuration& c) { ::unlink((c.dossier + "/session.json").c_str()); }

}  // namespace vimba::technicien
