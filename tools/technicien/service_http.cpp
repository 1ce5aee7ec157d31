#include "tools/technicien/service_http.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

namespace vimba::technicien {

namespace {

using json = nlohmann::json;

struct Reponse {
    int statut = 0;  // 0 when nothing came back
    json corps;
    std::string retry;
};

std::string texteErreur(const Reponse& r) {
    if (r.corps.is_object() && r.corps.contains("erreur") && r.corps["erreur"].is_string()) return r.corps["erreur"];
    return {};
}

// Every answer that is not what the call hoped for, in the technician's words.
std::string expliquer(const Reponse& r, const std::string& adresse) {
    const std::string detail = texteErreur(r);
    const std::string suite = detail.empty() ? "" : " (« " + detail + " »)";
    switch (r.statut) {
        case 400: return "le service a refusé la demande comme mal formée" + suite;
        case 401: return "jeton refusé par le service " + adresse + " : vérifiez VIMBA_JETON ou « jeton= » dans service.conf";
        case 403: return "cette session n’est pas la vôtre pour le service" + suite;
        case 404: return "session inconnue du service" + suite;
        case 409: return "la session n’est plus dans l’état voulu" + suite;
        case 413: return "demande trop grosse pour le service";
        case 429:
            return "trop de demandes au service" + (r.retry.empty() ? std::string(", réessayez dans un moment") : ", réessayez dans " + r.retry + " s");
        default: break;
    }
    if (r.statut >= 500) return "le service a un problème (" + std::to_string(r.statut) + ")" + suite;
    return "réponse inattendue du service (" + std::to_string(r.statut) + ")" + suite;
}

bool appeler(const Configuration& c, const std::string& adresse, const std::string& methode, const std::string& chemin,
             const json& corps, int lecture, Reponse& r, std::string& erreur) {
    try {
        httplib::Client client(adresse);
        if (!client.is_valid()) {
            erreur = "adresse du service invalide : " + adresse;
            return false;
        }
        client.set_connection_timeout(5);
        client.set_read_timeout(lecture);
        client.set_write_timeout(10);
        client.set_bearer_token_auth(c.jeton.c_str());
        if (!c.ca.empty()) client.set_ca_cert_path(c.ca.c_str());
        client.enable_server_certificate_verification(true);
        const auto res = methode == "GET" ? client.Get(chemin.c_str())
                                          : client.Post(chemin.c_str(), corps.dump(), "application/json");
        if (!res) {
            const auto e = res.error();
            if (e == httplib::Error::SSLServerVerification || e == httplib::Error::SSLConnection)
                erreur = "connexion sécurisée au service " + adresse + " impossible (" + httplib::to_string(e) +
                         ") : certificat non reconnu ? (« ca= » dans service.conf)";
            else if (e == httplib::Error::Read)
                erreur = "le service " + adresse + " n’a pas répondu à temps";
            else
                erreur = "le service de dépannage est injoignable (" + adresse + ") : " + httplib::to_string(e);
            return false;
        }
        r.statut = res->status;
        r.retry = res->get_header_value("Retry-After");
        r.corps = json::parse(res->body, nullptr, false);
        if (r.corps.is_discarded()) r.corps = json();
        return true;
    } catch (const std::exception& e) {
        erreur = std::string("échange avec le service impossible : ") + e.what();
        return false;
    }
}

bool lireRelais(const json& j, Relais& r) try {
    if (!j.is_object()) return false;
    r.hote = j.value("hote", "");
    r.port = j.value("port", 0);
    r.compte = j.value("compte", "");
    r.cleHote = j.value("cle_hote", "");
    r.portTunnel = j.value("port_tunnel", 0);
    return hoteValide(r.hote) && r.port > 0 && r.port < 65536 && compteValide(r.compte) && cleValide(r.cleHote) &&
           r.portTunnel > 0 && r.portTunnel < 65536;
} catch (const json::exception&) {
    return false;
}

bool lireOrdinateur(const json& j, Ordinateur& o) try {
    if (!j.is_object()) return false;
    o.portTunnel = j.value("port_tunnel", 0);
    o.cleHote = j.value("cle_hote", "");
    o.compte = j.value("compte", "");
    return o.portTunnel > 0 && o.portTunnel < 65536 && cleValide(o.cleHote) && compteValide(o.compte);
} catch (const json::exception&) {
    return false;
}

}  // namespace

ServiceHttp::ServiceHttp(Configuration configuration) : configuration_(std::move(configuration)) {}

bool ServiceHttp::creerCode(const std::string& nom, const std::string& cle, Code& code, std::string& erreur) {
    Reponse r;
    if (!appeler(configuration_, configuration_.adresse, "POST", "/v1/codes", {{"nom", nom}, {"cle", cle}}, 15, r, erreur)) return false;
    if (r.statut != 201 && r.statut != 200) {
        erreur = expliquer(r, configuration_.adresse);
        return false;
    }
    try {
        code.code = r.corps.at("code");
        code.session = r.corps.at("session");
        code.expire = r.corps.value("expire", std::int64_t{0});
    } catch (const json::exception&) {
        code = {};
    }
    if (code.code.empty() || code.session.empty() || code.session.find_first_of("/?#% \n") != std::string::npos) {
        erreur = "réponse du service illisible pour un nouveau code";
        return false;
    }
    return true;
}

bool ServiceHttp::attendre(Session& session, int delai, Etat& etat, std::string& erreur) {
    Reponse r;
    const std::string chemin = "/v1/sessions/" + session.id + "/attendre?delai=" + std::to_string(delai);
    if (!appeler(configuration_, session.adresse, "GET", chemin, {}, delai + 15, r, erreur)) return false;
    if (r.statut != 200) {
        erreur = expliquer(r, session.adresse);
        return false;
    }
    const std::string e = r.corps.is_object() && r.corps.contains("etat") && r.corps["etat"].is_string() ? r.corps["etat"].get<std::string>() : "";
    if (e == "attente") etat = Etat::attente;
    else if (e == "fermee") etat = Etat::fermee;
    else if (e == "expiree") etat = Etat::expiree;
    else if (e == "prete") {
        etat = Etat::prete;
        if (!lireRelais(r.corps.value("relais", json()), session.relais) ||
            !lireOrdinateur(r.corps.value("ordinateur", json()), session.ordinateur)) {
            erreur = "le service a décrit le relais ou l’ordinateur de façon invalide";
            return false;
        }
        session.prete = true;
    } else {
        erreur = "réponse du service illisible pendant l’attente";
        return false;
    }
    return true;
}

bool ServiceHttp::fermer(const Session& session, std::string& erreur) {
    Reponse r;
    if (!appeler(configuration_, session.adresse, "POST", "/v1/sessions/" + session.id + "/fermer", json::object(), 15, r, erreur))
        return false;
    if (r.statut == 200 || r.statut == 404) return true;
    erreur = expliquer(r, session.adresse);
    return false;
}

}  // namespace vimba::technicien
