#include "tools/technicien/mcp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

namespace vimba::technicien {

namespace {

using json = nlohmann::json;

const char* const versionParDefaut = "2025-06-18";
const char* const versionsConnues[] = {"2025-06-18", "2025-03-26", "2024-11-05"};

enum class Genre { nombre, entier, ligne, texte, points };

struct Champ {
    const char* nom;
    Genre genre;
    const char* description;
    bool requis = true;
};

struct Outil {
    const char* nom;
    const char* titre;
    const char* description;
    std::vector<Champ> champs;
    bool lecture = false;  // reads the screen only, changes nothing
};

const Champ x{"x", Genre::nombre, "abscisse en points depuis le coin haut gauche de l’écran principal"};
const Champ y{"y", Genre::nombre, "ordonnée en points, vers le bas"};

const std::vector<Outil>& outils() {
    static const std::vector<Outil> liste = {
        {"code", "Nouveau code", "Demande au service un code à usage unique (valable 10 minutes) à dicter à la personne aidée.", {}},
        {"attendre", "Attendre l’ordinateur",
         "Attend que la personne ait tapé le code et ouvert la session, puis ouvre la liaison. Rend « en attente » si le délai passe avant : rappeler.",
         {{"delai", Genre::nombre, "secondes d’attente au plus (30 par défaut, 600 au plus)", false}}},
        {"fin", "Terminer la session", "Ferme la session sur le service et la liaison avec l’ordinateur.", {}},
        {"clic", "Clic", "Clic gauche en (x, y).", {x, y}},
        {"double", "Double clic", "Double clic gauche en (x, y).", {x, y}},
        {"droit", "Clic droit", "Clic droit en (x, y).", {x, y}},
        {"bouger", "Bouger le pointeur", "Déplace le pointeur en (x, y).", {x, y}},
        {"defiler", "Défiler", "Crans de molette en (x, y) : vers le haut quand n > 0.",
         {x, y, {"n", Genre::entier, "nombre de crans (1000 au plus en valeur absolue)"}}},
        {"tape", "Taper du texte", "Tape le texte dans le champ qui a le focus (refusé dans un champ de mot de passe).",
         {{"texte", Genre::texte, "texte à taper ; saut de ligne = Entrée, tabulation = Tab"}}},
        {"touche", "Touche", "Une touche avec ses modificateurs, par exemple « ctrl-a », « maj-tab », « entree ».",
         {{"combinaison", Genre::ligne, "touche et modificateurs joints par des tirets"}}},
        {"viser", "Cliquer un élément", "Clique au milieu de l’élément de ce nom dans l’application au premier plan.",
         {{"nom", Genre::ligne, "nom de l’élément, tel que « lire » le donne"}}},
        {"lire", "Lire l’application", "Liste les éléments étiquetés de l’application au premier plan, avec leur rôle et leur position.",
         {{"motif", Genre::ligne, "ne garder que les éléments dont le nom contient ce texte", false}},
         true},
        {"vue", "Capture d’écran", "Capture l’écran de l’ordinateur et la rend en image JPEG.", {}, true},
        {"montrer", "Montrer un endroit", "Affiche un repère à la personne en (x, y).", {x, y}},
        {"dire", "Montrer et dire", "Affiche un repère en (x, y) avec une étiquette pour la personne.",
         {x, y, {"texte", Genre::texte, "texte de l’étiquette"}}},
        {"tracer", "Tracer un trait", "Dessine un trait passant par les points donnés, pour guider la personne.",
         {{"points", Genre::points, "au moins deux points {x, y}"}}},
        {"effacer", "Effacer le repère", "Efface le repère et le trait affichés.", {}},
        {"presse-lire", "Lire le presse-papiers", "Rend le texte du presse-papiers de l’ordinateur.", {}, true},
        {"presse-ecrire", "Écrire le presse-papiers", "Met ce texte dans le presse-papiers de l’ordinateur.",
         {{"texte", Genre::texte, "texte à mettre dans le presse-papiers"}}},
        {"etat", "État", "Autorisations accordées et application au premier plan.", {}, true},
    };
    return liste;
}

json schema(const Outil& o) {
    json proprietes = json::object(), requis = json::array();
    for (const auto& c : o.champs) {
        json p;
        switch (c.genre) {
            case Genre::nombre: p = {{"type", "number"}}; break;
            case Genre::entier: p = {{"type", "integer"}}; break;
            case Genre::ligne:
            case Genre::texte: p = {{"type", "string"}}; break;
            case Genre::points:
                p = {{"type", "array"},
                     {"minItems", 2},
                     {"items", {{"type", "object"},
                                {"properties", {{"x", {{"type", "number"}}}, {"y", {{"type", "number"}}}}},
                                {"required", {"x", "y"}}}}};
                break;
        }
        p["description"] = c.description;
        proprietes[c.nom] = p;
        if (c.requis) requis.push_back(c.nom);
    }
    json s = {{"type", "object"}, {"properties", proprietes}};
    if (!requis.empty()) s["required"] = requis;
    return s;
}

json descriptions() {
    json liste = json::array();
    for (const auto& o : outils()) {
        json d = {{"name", o.nom}, {"title", o.titre}, {"description", o.description}, {"inputSchema", schema(o)}};
        d["annotations"] = {{"readOnlyHint", o.lecture}, {"openWorldHint", true}};
        liste.push_back(d);
    }
    return liste;
}

// Numbers as the command language writes them: no exponent, no locale.
std::string nombre(const json& v) {
    if (v.is_number_integer()) return std::to_string(v.get<std::int64_t>());
    if (v.is_number_unsigned()) return std::to_string(v.get<std::uint64_t>());
    char texte[64];
    std::snprintf(texte, sizeof texte, "%.3f", v.get<double>());
    std::string s = texte;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

bool nombreValide(const json& v) { return v.is_number() && std::isfinite(v.get<double>()) && std::fabs(v.get<double>()) < 1e9; }

// The request text for a call, or an error for the argument at fault.
bool requete(const Outil& o, const json& arguments, std::string& texte, std::string& erreur) {
    texte = o.nom;
    std::string corps;
    bool aCorps = false;
    for (const auto& c : o.champs) {
        const auto it = arguments.find(c.nom);
        if (it == arguments.end() || it->is_null()) {
            if (!c.requis) continue;
            erreur = std::string("argument « ") + c.nom + " » manquant";
            return false;
        }
        const json& v = *it;
        const std::string faute = std::string("argument « ") + c.nom + " » invalide";
        switch (c.genre) {
            case Genre::nombre:
                if (!nombreValide(v)) return erreur = faute + " : un nombre est attendu", false;
                texte += " " + nombre(v);
                break;
            case Genre::entier:
                if (!v.is_number_integer() && !(v.is_number_float() && nombreValide(v) && std::trunc(v.get<double>()) == v.get<double>()))
                    return erreur = faute + " : un entier est attendu", false;
                texte += " " + std::to_string(static_cast<std::int64_t>(v.get<double>()));
                break;
            case Genre::ligne: {
                if (!v.is_string()) return erreur = faute + " : un texte est attendu", false;
                const auto& s = v.get_ref<const std::string&>();
                if (s.find_first_of("\r\n") != std::string::npos) return erreur = faute + " : une seule ligne est attendue", false;
                if (!s.empty()) texte += " " + s;
                break;
            }
            case Genre::texte:
                if (!v.is_string()) return erreur = faute + " : un texte est attendu", false;
                corps = v.get<std::string>();
                aCorps = true;
                break;
            case Genre::points:
                if (!v.is_array() || v.size() < 2) return erreur = faute + " : au moins deux points sont attendus", false;
                for (const auto& p : v) {
                    if (!p.is_object() || !p.contains("x") || !p.contains("y") || !nombreValide(p["x"]) || !nombreValide(p["y"]))
                        return erreur = faute + " : chaque point est {\"x\": nombre, \"y\": nombre}", false;
                    texte += " " + nombre(p["x"]) + "," + nombre(p["y"]);
                }
                break;
        }
    }
    if (aCorps) texte += "\n" + corps;
    return true;
}

json resultatTexte(const Issue& i) {
    return {{"content", {{{"type", "text"}, {"text", i.texte}}}}, {"isError", i.statut != 0}};
}

std::string base64(const std::string& octets) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    s.reserve((octets.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < octets.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(octets[i]) << 16 | static_cast<unsigned char>(octets[i + 1]) << 8 |
                           static_cast<unsigned char>(octets[i + 2]);
        s += {alphabet[v >> 18], alphabet[(v >> 12) & 63], alphabet[(v >> 6) & 63], alphabet[v & 63]};
    }
    if (i < octets.size()) {
        const unsigned v = static_cast<unsigned char>(octets[i]) << 16 |
                           (i + 1 < octets.size() ? static_cast<unsigned char>(octets[i + 1]) << 8 : 0u);
        s += {alphabet[v >> 18], alphabet[(v >> 12) & 63], i + 1 < octets.size() ? alphabet[(v >> 6) & 63] : '=', '='};
    }
    return s;
}

json erreurRpc(const json& id, int code, const std::string& message) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

std::string ligne(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

ServeurMcp::ServeurMcp(Poste& poste) : poste_(poste) {}

std::string ServeurMcp::traiter(const std::string& texte) {
    if (texte.find_first_not_of(" \t\r") == std::string::npos) return {};
    json message;
    try {
        message = json::parse(texte);
    } catch (const json::exception&) {
        return ligne(erreurRpc(nullptr, -32700, "Parse error"));
    }
    if (!message.is_object()) return ligne(erreurRpc(nullptr, -32600, "Invalid Request: un objet JSON-RPC est attendu"));
    const bool aId = message.contains("id");
    const json id = aId ? message["id"] : json();
    if (aId && !id.is_string() && !id.is_number_integer()) return ligne(erreurRpc(nullptr, -32600, "Invalid Request: id invalide"));
    // Answers to requests of ours: this server sends none, so nothing to match.
    if (!message.contains("method") && (message.contains("result") || message.contains("error"))) return {};
    if (message.value("jsonrpc", json()) != "2.0" || !message.contains("method") || !message["method"].is_string())
        return ligne(erreurRpc(id, -32600, "Invalid Request"));
    const std::string methode = message["method"];
    if (!aId) return {};  // notifications: initialized, cancelled… need no answer
    const json params = message.value("params", json::object());
    if (!params.is_object()) return ligne(erreurRpc(id, -32602, "Invalid params: un objet est attendu"));

    json resultat;
    if (methode == "initialize") {
        std::string version = versionParDefaut;
        if (params.contains("protocolVersion") && params["protocolVersion"].is_string())
            for (const char* v : versionsConnues)
                if (params["protocolVersion"] == v) version = v;
        resultat = {{"protocolVersion", version},
                    {"capabilities", {{"tools", {{"listChanged", false}}}}},
                    {"serverInfo", {{"name", "vimba-technicien"}, {"title", "Dépannage Vimba : technicien"}, {"version", "1.0"}}},
                    {"instructions",
                     "Dépannage à distance d’un ordinateur Linux. « code » donne un code à dicter à la personne, « attendre » "
                     "ouvre la session quand elle l’a tapé, puis « vue » et « lire » montrent l’écran, « clic », « tape », "
                     "« touche »… agissent, « montrer » et « dire » guident la personne ; « fin » termine. Coordonnées en points "
                     "depuis le coin haut gauche de l’écran principal."}};
    } else if (methode == "ping") {
        resultat = json::object();
    } else if (methode == "tools/list") {
        resultat = {{"tools", descriptions()}};
    } else if (methode == "tools/call") {
        if (!params.contains("name") || !params["name"].is_string())
            return ligne(erreurRpc(id, -32602, "Invalid params: « name » manquant"));
        const std::string nom = params["name"];
        const json arguments = params.value("arguments", json::object());
        if (!arguments.is_object()) return ligne(erreurRpc(id, -32602, "Invalid params: « arguments » doit être un objet"));
        const Outil* outil = nullptr;
        for (const auto& o : outils())
            if (nom == o.nom) outil = &o;
        if (!outil) return ligne(erreurRpc(id, -32602, "Unknown tool: " + nom));
        std::string demande, erreur;
        if (!requete(*outil, arguments, demande, erreur)) return ligne(erreurRpc(id, -32602, "Invalid params: " + erreur));
        if (nom == "code") {
            Issue i = poste_.code();
            if (i.statut == 0) i.texte = "Code à dicter à la personne : " + i.texte + " (valable 10 minutes, une seule fois).";
            resultat = resultatTexte(i);
        } else if (nom == "attendre") {
            double delai = arguments.contains("delai") && nombreValide(arguments["delai"]) ? arguments["delai"].get<double>() : 30;
            Issue i = poste_.attendre(std::clamp(delai, 1.0, 600.0));
            // Still waiting is no failure: the caller simply asks again.
            if (i.statut == 2) i = {0, "en attente : " + i.texte};
            resultat = resultatTexte(i);
        } else if (nom == "fin") {
            resultat = resultatTexte(poste_.fin());
        } else if (nom == "vue") {
            std::string jpeg;
            const Issue i = poste_.vue(jpeg);
            resultat = resultatTexte(i);
            if (i.statut == 0) resultat["content"].push_back({{"type", "image"}, {"data", base64(jpeg)}, {"mimeType", "image/jpeg"}});
        } else {
            resultat = resultatTexte(poste_.demande(demande));
        }
    } else {
        return ligne(erreurRpc(id, -32601, "Method not found: " + methode));
    }
    return ligne({{"jsonrpc", "2.0"}, {"id", id}, {"result", resultat}});
}

void ServeurMcp::servir(std::istream& entree, std::ostream& sortie) {
    std::string l;
    while (std::getline(entree, l)) {
        const std::string reponse = traiter(l);
        if (!reponse.empty()) sortie << reponse << "\n" << std::flush;
    }
}

}  // namespace vimba::technicien
