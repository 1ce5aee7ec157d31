#include "service/service.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cctype>
#include <set>

#include "service/aleatoire.h"
#include "service/demandes.h"

namespace vimba::service {
namespace {

using nlohmann::json;

const char* const schema[] = {
    "CREATE TABLE IF NOT EXISTS jetons (nom TEXT PRIMARY KEY, empreinte TEXT NOT NULL UNIQUE,"
    " cree BIGINT NOT NULL)",
    // etat: code (waiting for the user), acceptee, prete, fermee. expire: the code's end
    // while etat is code, then the session's end.
    "CREATE TABLE IF NOT EXISTS sessions (id TEXT PRIMARY KEY, technicien TEXT NOT NULL,"
    " nom TEXT NOT NULL, cle TEXT NOT NULL, cle_nue TEXT NOT NULL, etat TEXT NOT NULL,"
    " cree BIGINT NOT NULL, expire BIGINT NOT NULL, secret TEXT, cle_tunnel TEXT,"
    " port_tunnel BIGINT, ordi_cle_hote TEXT, ordi_compte TEXT)",
    "CREATE INDEX IF NOT EXISTS sessions_cle_tunnel ON sessions (cle_tunnel)",
    "CREATE INDEX IF NOT EXISTS sessions_cle_nue ON sessions (cle_nue)",
    "CREATE INDEX IF NOT EXISTS sessions_expire ON sessions (expire)",
    // Live codes only: a code leaves this table when accepted or closed.
    "CREATE TABLE IF NOT EXISTS codes (empreinte TEXT PRIMARY KEY, session TEXT NOT NULL,"
    " expire BIGINT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS codes_expire ON codes (expire)",
    // A port is taken while fin is in the future.
    "CREATE TABLE IF NOT EXISTS ports (port BIGINT PRIMARY KEY, session TEXT NOT NULL,"
    " fin BIGINT NOT NULL)",
    // Failed accepts per key ("*" for all, "@ADDRESS" per client) and minute.
    "CREATE TABLE IF NOT EXISTS tentatives (cle TEXT NOT NULL, fenetre BIGINT NOT NULL,"
    " nombre BIGINT NOT NULL, PRIMARY KEY (cle, fenetre))",
};

std::string texte_json(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

Reponse erreur(int statut, const std::string& message) {
  return {statut, texte_json(json{{"erreur", message}}), 0};
}
Reponse ok(const json& j, int statut = 200) { return {statut, texte_json(j), 0}; }
Reponse panne_base() { return erreur(500, "stockage indisponible"); }

template <class T>
const std::string* refus(const Lu<T>& lu) { return std::get_if<std::string>(&lu); }

}  // namespace

int64_t maintenant_unix() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch()).count();
}

Service::Service(Base& base, Reglages reglages, Horloge horloge)
    : base_(base), r_(std::move(reglages)), horloge_(std::move(horloge)) {}

bool Service::preparer(std::string& erreur) {
  // Replicas starting together may race on CREATE … IF NOT EXISTS; one more try settles it.
  for (int essai = 0; essai < 3; ++essai) {
    bool ok = base_.transaction([](Requete& q) {
      for (const char* sql : schema)
        if (!q.executer(sql)) return false;
      return true;
    });
    if (ok) return true;
    erreur = base_.derniere_erreur();
  }
  return false;
}

void Service::arreter() {
  std::lock_guard<std::mutex> v(verrou_);
  arret_ = true;
  change_.notify_all();
}

void Service::changement() {
  std::lock_guard<std::mutex> v(verrou_);
  ++generation_;
  change_.notify_all();
}

Reponse Service::repondre(const Demande& d) {
  Route route = lire_route(d.methode, d.chemin);
  switch (route.appel) {
    case Appel::sante: return ok(json{{"ok", true}});
    case Appel::creer_code: return creer_code(d);
    case Appel::accepter: return accepter(d);
    case Appel::prete: return prete(d, route.session);
    case Appel::attendre: return attendre(d, route.session);
    case Appel::fermer: return fermer(d, route.session);
    case Appel::inconnu: break;
  }
  return erreur(404, "appel inconnu");
}

std::optional<std::string> Service::technicien(const std::string& porteur, bool& panne) {
  panne = false;
  if (porteur.empty()) return std::nullopt;
  std::optional<std::string> nom;
  const std::string e = empreinte(porteur);
  if (!base_.transaction([&](Requete& q) {
        auto l = q.executer("SELECT nom FROM jetons WHERE empreinte = $1", {e});
        if (!l) return false;
        if (!l->empty()) nom = (*l)[0][0];
        return true;
      })) {
    panne = true;
    return std::nullopt;
  }
  return nom;
}

Reponse Service::creer_code(const Demande& d) {
  bool panne = false;
  auto tech = technicien(lire_porteur(d.autorisation), panne);
  if (panne) return panne_base();
  if (!tech) return erreur(401, "jeton refusé");
  auto lu = lire_demande_code(d.corps);
  if (auto* e = refus(lu)) return erreur(400, *e);
  const DemandeCode& dem = std::get<DemandeCode>(lu);

  const int64_t t = horloge_(), expire = t + r_.duree_code;
  const std::string id = hexa(octets_aleatoires(16));
  std::string code;
  bool aleas = true, pris = false;
  if (!base_.transaction([&](Requete& q) {
        // Old rows go as new ones come: dead codes, and sessions a week past their end.
        if (!q.executer("DELETE FROM codes WHERE expire <= $1", {t}) ||
            !q.executer("DELETE FROM sessions WHERE expire < $1", {t - 7 * 86400}))
          return false;
        // A code already live elsewhere is drawn again; with few live codes this is rare.
        for (int essai = 0; essai < 8 && !pris; ++essai) {
          auto c = code_aleatoire();
          if (!c || id.size() != 32) {
            aleas = false;
            return false;
          }
          auto l = q.executer(
              "INSERT INTO codes (empreinte, session, expire) VALUES ($1, $2, $3)"
              " ON CONFLICT (empreinte) DO NOTHING RETURNING session",
              {empreinte(*c), id, expire});
          if (!l) return false;
          if (!l->empty()) {
            pris = true;
            code = *c;
          }
        }
        if (!pris) return false;
        return q.executer(
                   "INSERT INTO sessions (id, technicien, nom, cle, cle_nue, etat, cree, expire)"
                   " VALUES ($1, $2, $3, $4, $5, 'code', $6, $7)",
                   {id, *tech, dem.nom, dem.cle.texte(), dem.cle.sans_commentaire(), t, expire})
            .has_value();
      })) {
    if (!aleas) return erreur(500, "source aléatoire indisponible");
    if (!pris && base_.derniere_erreur().empty()) return erreur(503, "aucun code libre, réessayez");
    return panne_base();
  }
  return ok(json{{"code", code}, {"session", id}, {"expire", expire}}, 201);
}

Reponse Service::accepter(const Demande& d) {
  auto lu = lire_acceptation(d.corps);
  if (auto* e = refus(lu)) return erreur(400, *e);
  const DemandeAcceptation& dem = std::get<DemandeAcceptation>(lu);

  const int64_t t = horloge_(), fenetre = t / 60;
  const std::string e = empreinte(dem.code);
  enum class Issue { panne, limite, refuse, plus_de_port, acceptee } issue = Issue::panne;
  std::string secret = base64url(octets_aleatoires(32));
  json reponse;
  bool ecrit = base_.transaction([&](Requete& q) {
    // Only failures count. Reading the counts takes no lock, so successes never wait for
    // each other; concurrent failures may overshoot a limit by the number in flight
    // (SQLite's writers are serialised, so there it is exact).
    auto comptes = q.executer(
        "SELECT coalesce(sum(nombre), 0), coalesce(sum(CASE WHEN cle = $2 THEN nombre ELSE 0 END), 0)"
        " FROM tentatives WHERE fenetre = $1",
        {fenetre, "@" + d.adresse});
    if (!comptes || comptes->size() != 1) return false;
    if (entier((*comptes)[0][1]) >= r_.limite_adresse || entier((*comptes)[0][0]) >= r_.limite_globale) {
      issue = Issue::limite;
      return false;
    }
    // Deleting is the claim: of two racing accepts, only one gets the row back.
    auto l = q.executer("DELETE FROM codes WHERE empreinte = $1 RETURNING empreinte, session, expire", {e});
    if (!l) return false;
    if (l->empty() || !egal_constant((*l)[0][0].value_or(""), e) || entier((*l)[0][2]) <= t) {
      issue = Issue::refuse;
      return q.executer("INSERT INTO tentatives (cle, fenetre, nombre) VALUES ($1, $2, 1) ON CONFLICT (cle, fenetre)"
                        " DO UPDATE SET nombre = tentatives.nombre + 1", {"@" + d.adresse, fenetre}) &&
             q.executer("DELETE FROM tentatives WHERE fenetre < $1", {fenetre}).has_value();
    }
    const std::string id = (*l)[0][1].value_or("");
    // A port free on the relay: none taken by a live session. A few random tries first,
    // which nearly always succeed; the list of taken ports only when the range fills up.
    const int64_t fin = t + r_.duree_session;
    int64_t port = 0;
    auto prendre = [&](int64_t candidat) {
      auto r = q.executer(
          "INSERT INTO ports (port, session, fin) VALUES ($1, $2, $3) ON CONFLICT (port) DO"
          " UPDATE SET session = excluded.session, fin = excluded.fin WHERE ports.fin <= $4"
          " RETURNING port",
          {candidat, id, fin, t});
      if (r && !r->empty()) port = candidat;
      return r.has_value();
    };
    const unsigned etendue = unsigned(r_.port_max - r_.port_min + 1);
    for (int essai = 0; essai < 4 && port == 0; ++essai) {
      auto i = tirage(etendue);
      if (!i || !prendre(r_.port_min + *i)) return false;
    }
    if (port == 0) {
      auto pris = q.executer("SELECT port FROM ports WHERE port BETWEEN $1 AND $2 AND fin > $3",
                             {r_.port_min, r_.port_max, t});
      if (!pris) return false;
      std::set<int64_t> occupes;
      for (auto& p : *pris) occupes.insert(entier(p[0]));
      std::vector<int64_t> libres;
      for (int64_t p = r_.port_min; p <= r_.port_max; ++p)
        if (!occupes.count(p)) libres.push_back(p);
      while (!libres.empty() && port == 0) {
        auto i = tirage(unsigned(libres.size()));
        if (!i || !prendre(libres[*i])) return false;
        libres.erase(libres.begin() + *i);
      }
    }
    if (port == 0) {
      issue = Issue::plus_de_port;
      return false;
    }
    if (secret.size() != 43) return false;
    auto s = q.executer("UPDATE sessions SET etat = 'acceptee', expire = $2, secret = $3,"
                        " cle_tunnel = $4, port_tunnel = $5 WHERE id = $1 AND etat = 'code' RETURNING nom, cle",
                        {id, fin, empreinte(secret), dem.cle_tunnel.sans_commentaire(), port});
    if (!s) return false;
    if (s->empty()) {
      issue = Issue::refuse;
      return false;
    }
    issue = Issue::acceptee;
    reponse = json{{"session", id},
                   {"secret", secret},
                   {"relais", {{"hote", r_.relais_hote},
                               {"port", r_.relais_port},
                               {"compte", r_.relais_compte},
                               {"cle_hote", r_.relais_cle_hote},
                               {"port_tunnel", port}}},
                   {"technicien", {{"nom", (*s)[0][0].value_or("")}, {"cle", (*s)[0][1].value_or("")}}}};
    return true;
  });
  switch (issue) {
    case Issue::limite: {
      Reponse r = erreur(429, "trop d’essais, réessayez dans une minute");
      r.reessayer = 60 - t % 60;
      return r;
    }
    case Issue::plus_de_port: return erreur(503, "aucun port libre sur le relais");
    case Issue::refuse: return erreur(404, "code refusé");
    case Issue::acceptee:
      if (!ecrit) return panne_base();
      changement();
      return ok(reponse);
    case Issue::panne: break;
  }
  return panne_base();
}

Reponse Service::prete(const Demande& d, const std::string& id) {
  const std::string porteur = lire_porteur(d.autorisation);
  if (porteur.empty()) return erreur(401, "secret de session manquant");
  auto lu = lire_prete(d.corps);
  if (auto* e = refus(lu)) return erreur(400, *e);
  const DemandePrete& dem = std::get<DemandePrete>(lu);
  const int64_t t = horloge_();
  Reponse reponse;
  bool ecrit = base_.transaction([&](Requete& q) {
    auto l = q.executer("SELECT secret, etat, port_tunnel, expire FROM sessions WHERE id = $1", {id});
    if (!l) return false;
    if (l->empty()) {
      reponse = erreur(404, "session inconnue");
      return false;
    }
    const Ligne& s = (*l)[0];
    if (!s[0] || !egal_constant(*s[0], empreinte(porteur))) {
      reponse = erreur(401, "secret de session refusé");
      return false;
    }
    if ((*s[1] != "acceptee" && *s[1] != "prete") || entier(s[3]) <= t) {
      reponse = erreur(409, "session close ou expirée");
      return false;
    }
    if (entier(s[2]) != dem.port_tunnel) {
      reponse = erreur(409, "ce n’est pas le port alloué à la session");
      return false;
    }
    if (!q.executer("UPDATE sessions SET etat = 'prete', ordi_cle_hote = $2, ordi_compte = $3 WHERE id = $1",
                    {id, dem.cle_hote.sans_commentaire(), dem.compte}))
      return false;
    reponse = ok(json{{"ok", true}});
    return true;
  });
  if (ecrit) changement();
  else if (reponse.corps.empty()) return panne_base();
  return reponse;
}

Reponse Service::attendre(const Demande& d, const std::string& id) {
  bool panne = false;
  auto tech = technicien(lire_porteur(d.autorisation), panne);
  if (panne) return panne_base();
  if (!tech) return erreur(401, "jeton refusé");
  auto delai = lire_delai(d.delai);
  if (auto* e = refus(delai)) return erreur(400, *e);
  const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(std::get<int>(delai));
  for (;;) {
    uint64_t vue;
    {
      std::lock_guard<std::mutex> v(verrou_);
      vue = generation_;
      if (arret_) return ok(json{{"etat", "attente"}});
    }
    std::optional<Ligne> s;
    if (!base_.transaction([&](Requete& q) {
          auto l = q.executer(
              "SELECT technicien, etat, expire, port_tunnel, ordi_cle_hote, ordi_compte"
              " FROM sessions WHERE id = $1", {id});
          if (!l) return false;
          if (!l->empty()) s = (*l)[0];
          return true;
        }))
      return panne_base();
    if (!s) return erreur(404, "session inconnue");
    if ((*s)[0] != *tech) return erreur(403, "cette session est celle d’un autre technicien");
    const std::string etat = (*s)[1].value_or("");
    if (etat == "fermee") return ok(json{{"etat", "fermee"}});
    if (entier((*s)[2]) <= horloge_()) return ok(json{{"etat", "expiree"}});
    if (etat == "prete") {
      const int64_t port = entier((*s)[3]);
      return ok(json{{"etat", "prete"},
                     {"relais", {{"hote", r_.relais_hote},
                                 {"port", r_.relais_port},
                                 {"compte", r_.relais_compte},
                                 {"cle_hote", r_.relais_cle_hote},
                                 {"port_tunnel", port}}},
                     {"ordinateur", {{"port_tunnel", port},
                                     {"cle_hote", (*s)[4].value_or("")},
                                     {"compte", (*s)[5].value_or("")}}}});
    }
    auto reste = limite - std::chrono::steady_clock::now();
    if (reste <= std::chrono::steady_clock::duration::zero()) return ok(json{{"etat", "attente"}});
    std::unique_lock<std::mutex> v(verrou_);
    change_.wait_for(v, std::min<std::chrono::steady_clock::duration>(reste, std::chrono::milliseconds(r_.sondage_ms)),
                     [&] { return generation_ != vue || arret_; });
  }
}

Reponse Service::fermer(const Demande& d, const std::string& id) {
  const std::string porteur = lire_porteur(d.autorisation);
  if (porteur.empty()) return erreur(401, "jeton ou secret manquant");
  const std::string e = empreinte(porteur);
  Reponse reponse;
  bool ecrit = base_.transaction([&](Requete& q) {
    auto l = q.executer("SELECT secret, technicien FROM sessions WHERE id = $1", {id});
    if (!l) return false;
    if (l->empty()) {
      reponse = erreur(404, "session inconnue");
      return false;
    }
    bool a_lui = (*l)[0][0] && egal_constant(*(*l)[0][0], e);
    if (!a_lui) {
      auto j = q.executer("SELECT nom FROM jetons WHERE empreinte = $1", {e});
      if (!j) return false;
      if (j->empty()) {
        reponse = erreur(401, "jeton ou secret refusé");
        return false;
      }
      if ((*j)[0][0] != (*l)[0][1]) {
        reponse = erreur(403, "cette session est celle d’un autre technicien");
        return false;
      }
    }
    if (!q.executer("UPDATE sessions SET etat = 'fermee' WHERE id = $1", {id}) ||
        !q.executer("DELETE FROM ports WHERE session = $1", {id}) ||
        !q.executer("DELETE FROM codes WHERE session = $1", {id}))
      return false;
    reponse = ok(json{{"ok", true}});
    return true;
  });
  if (ecrit) changement();
  else if (reponse.corps.empty()) return panne_base();
  return reponse;
}

std::optional<std::string> Service::creer_jeton(const std::string& nom, std::string& erreur) {
  bool bon = !nom.empty() && nom.size() <= 64;
  for (char c : nom) bon = bon && (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == '@');
  if (!bon) {
    erreur = "nom de jeton invalide (lettres, chiffres, - _ . @, 64 au plus)";
    return std::nullopt;
  }
  std::string jeton = base64url(octets_aleatoires(32));
  if (jeton.size() != 43) {
    erreur = "source aléatoire indisponible";
    return std::nullopt;
  }
  bool existe = false;
  if (!base_.transaction([&](Requete& q) {
        auto l = q.executer("INSERT INTO jetons (nom, empreinte, cree) VALUES ($1, $2, $3)"
                            " ON CONFLICT (nom) DO NOTHING RETURNING nom",
                            {nom, empreinte(jeton), horloge_()});
        if (!l) return false;
        existe = l->empty();
        return !existe;
      })) {
    erreur = existe ? "un jeton porte déjà ce nom : révoquez-le d’abord" : base_.derniere_erreur();
    return std::nullopt;
  }
  return jeton;
}

bool Service::revoquer_jeton(const std::string& nom, std::string& erreur) {
  bool existait = false;
  if (!base_.transaction([&](Requete& q) {
        auto l = q.executer("DELETE FROM jetons WHERE nom = $1 RETURNING nom", {nom});
        if (!l) return false;
        existait = !l->empty();
        // Its sessions end with it: the relay stops letting its keys in.
        return q.executer("DELETE FROM ports WHERE session IN (SELECT id FROM sessions WHERE technicien = $1)", {nom}) &&
               q.executer("DELETE FROM codes WHERE session IN (SELECT id FROM sessions WHERE technicien = $1)", {nom}) &&
               q.executer("UPDATE sessions SET etat = 'fermee' WHERE technicien = $1", {nom}).has_value();
      })) {
    erreur = base_.derniere_erreur();
    return false;
  }
  if (!existait) erreur = "aucun jeton de ce nom";
  return existait;
}

std::optional<std::string> Service::lignes_autorisees(const std::string& compte, const std::string& type,
                                                      const std::string& blob) {
  if (compte != r_.relais_compte) return std::string();
  const std::string cle = type + " " + blob;
  const int64_t t = horloge_();
  std::string lignes;
  if (!base_.transaction([&](Requete& q) {
        // A computer's tunnel key: listen on its own port of the relay's loopback, open nothing.
        auto tunnel = q.executer(
            "SELECT port_tunnel FROM sessions WHERE cle_tunnel = $1 AND etat IN ('acceptee', 'prete')"
            " AND expire > $2 ORDER BY cree DESC LIMIT 1", {cle, t});
        if (!tunnel) return false;
        if (!tunnel->empty()) {
          lignes = "restrict,port-forwarding,permitlisten=\"127.0.0.1:" + (*tunnel)[0][0].value_or("0") +
                   "\",permitopen=\"aucun.invalid:9\" " + cle + "\n";
          return true;
        }
        // A technician's key: reach the ports of its ready sessions, listen nowhere.
        auto ports = q.executer(
            "SELECT port_tunnel FROM sessions WHERE cle_nue = $1 AND etat = 'prete' AND expire > $2"
            " ORDER BY port_tunnel", {cle, t});
        if (!ports) return false;
        if (ports->empty()) return true;
        std::string options = "restrict,port-forwarding,permitlisten=\"aucun.invalid:9\"";
        for (auto& p : *ports) options += ",permitopen=\"127.0.0.1:" + p[0].value_or("0") + "\"";
        lignes = options + " " + cle + "\n";
        return true;
      }))
    return std::nullopt;
  return lignes;
}

}  // namespace vimba::service
