// The service for real, on SQLite and on a private PostgreSQL: its processes, its HTTP
// answers, its base shared by replicas and kept across restarts.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <barrier>
#include <nlohmann/json.hpp>

#include "service/aleatoire.h"
#include "tests/service/lanceur.h"

namespace {

using nlohmann::json;
using essais::Dossier;
using essais::ServiceLance;

const std::string binaire = VIMBA_SERVICE_BINAIRE;

essais::PostgresTemp& postgres() {
  static essais::PostgresTemp pg;
  return pg;
}

// An ed25519 public key in OpenSSH form; the 32 key bytes are random.
std::string cle_ssh(const std::string& commentaire = "") {
  std::string blob = std::string("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19) + vimba::service::octets_aleatoires(32);
  std::string b64 = vimba::service::base64url(blob);
  for (char& c : b64) c = c == '-' ? '+' : c == '_' ? '/' : c;
  while (b64.size() % 4) b64 += '=';
  return "ssh-ed25519 " + b64 + (commentaire.empty() ? "" : " " + commentaire);
}

struct Rep {
  int statut = 0;
  json corps;
  std::string reessayer;
};

Rep appeler(const std::string& adresse, const std::string& methode, const std::string& chemin,
            const std::string& porteur = "", const std::string& corps = "") {
  httplib::Client c(adresse);
  c.set_read_timeout(40, 0);
  httplib::Headers h;
  if (!porteur.empty()) h.emplace("Authorization", "Bearer " + porteur);
  auto r = methode == "GET" ? c.Get(chemin.c_str(), h) : c.Post(chemin.c_str(), h, corps, "application/json");
  Rep rep;
  if (!r) return rep;
  rep.statut = r->status;
  rep.corps = json::parse(r->body, nullptr, false);
  rep.reessayer = r->get_header_value("Retry-After");
  return rep;
}

// Raw request bytes from a chosen loopback source address (to tell clients apart); the
// answer's status, or 0.
int envoyer_depuis(const char* source, const std::string& adresse, const std::string& requete) {
  int port = std::stoi(adresse.substr(adresse.rfind(':') + 1));
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, source, &a.sin_addr);
  sockaddr_in b{};
  b.sin_family = AF_INET;
  b.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &b.sin_addr);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || connect(s, reinterpret_cast<sockaddr*>(&b), sizeof b) != 0) {
    close(s);
    return 0;
  }
  (void)!write(s, requete.data(), requete.size());
  char tampon[64] = {};
  ssize_t n = read(s, tampon, sizeof tampon - 1);
  close(s);
  return n > 12 ? std::atoi(tampon + 9) : 0;
}

int poster_depuis(const char* source, const std::string& adresse, const std::string& corps, const std::string& entetes = "") {
  return envoyer_depuis(source, adresse, "POST /v1/codes/accepter HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" + entetes +
                                             "Content-Length: " + std::to_string(corps.size()) + "\r\n\r\n" + corps);
}

enum class Genre { sqlite, postgres };

class Api : public ::testing::TestWithParam<Genre> {
 protected:
  void SetUp() override {
    if (GetParam() == Genre::postgres) ASSERT_TRUE(postgres().pret()) << postgres().erreur();
    nouvelle_base();
  }

  void nouvelle_base() {
    static int n = 0;
    ++n;
    if (GetParam() == Genre::postgres) base_ = postgres().base("essai_" + std::to_string(getpid()) + "_" + std::to_string(n));
    else base_ = "sqlite:" + (dossier_.chemin / ("service-" + std::to_string(n) + ".db")).string();
  }

  std::map<std::string, std::string> reglages(std::map<std::string, std::string> en_plus = {}) {
    std::map<std::string, std::string> r{{"ecoute", "127.0.0.1:0"}, {"base", base_},
                                         {"limite_adresse", "100000"}, {"limite_globale", "100000"},
                                         {"sondage_ms", "50"}, {"relais_cle_hote", cle_relais_}};
    for (auto& [c, v] : en_plus) r[c] = v;
    return r;
  }

  std::unique_ptr<ServiceLance> lancer(std::map<std::string, std::string> en_plus = {}) {
    auto s = std::make_unique<ServiceLance>(binaire, dossier_.chemin, reglages(std::move(en_plus)));
    EXPECT_TRUE(s->demarrer()) << s->journal();
    return s;
  }

  std::string jeton(const std::string& nom) {
    auto sortie = (dossier_.chemin / ("jeton-" + nom)).string();
    EXPECT_EQ(essais::executer({binaire, "jeton", "creer", nom, "--base", base_}, sortie), 0);
    std::string j = essais::lire_fichier(sortie);
    return j.substr(0, j.find('\n'));
  }

  std::string cles(const std::string& cle) {
    auto sortie = (dossier_.chemin / "cles").string();
    std::filesystem::remove(sortie);
    auto espace = cle.find(' '), fin = cle.find(' ', espace + 1);
    EXPECT_EQ(essais::executer({binaire, "cles", "--base", base_, "vimba-relais", cle.substr(0, espace),
                                cle.substr(espace + 1, fin - espace - 1)}, sortie), 0);
    return essais::lire_fichier(sortie);
  }

  Rep code(const std::string& adresse, const std::string& j, const std::string& cle) {
    return appeler(adresse, "POST", "/v1/codes", j, json{{"nom", "Ilvo"}, {"cle", cle}}.dump());
  }
  Rep accepter(const std::string& adresse, const std::string& c, const std::string& cle) {
    return appeler(adresse, "POST", "/v1/codes/accepter", "", json{{"code", c}, {"cle_tunnel", cle}}.dump());
  }
  Rep prete(const std::string& adresse, const json& acceptation, const std::string& cle_hote) {
    return appeler(adresse, "POST", "/v1/sessions/" + acceptation["session"].get<std::string>() + "/prete",
                   acceptation["secret"], json{{"port_tunnel", acceptation["relais"]["port_tunnel"]},
                                               {"cle_hote", cle_hote}, {"compte", "vimba-technicien"}}.dump());
  }

  Dossier dossier_;
  std::string base_;
  const std::string cle_relais_ = cle_ssh();  // one relay for every replica
};

// Eight accept the same code at once, through the given services in turn: how many got 200
// and how many 404 (anything else counts 100 in neither). Two replicas race within each
// process as well as between them.
std::pair<int, int> course(const std::vector<ServiceLance*>& services, const std::string& code) {
  std::barrier depart(8);
  std::atomic<int> gagnants = 0, perdants = 0;
  std::vector<std::thread> fils;
  for (int i = 0; i < 8; ++i)
    fils.emplace_back([&, i] {
      depart.arrive_and_wait();
      int statut = appeler(services[i % services.size()]->adresse(), "POST", "/v1/codes/accepter", "",
                           json{{"code", code}, {"cle_tunnel", cle_ssh()}}.dump()).statut;
      (statut == 404 ? perdants : gagnants) += statut == 200 || statut == 404 ? 1 : 100;
    });
  for (auto& f : fils) f.join();
  return {gagnants, perdants};
}

// Two replicas on one base: the technician's side on one, the computer's on the other,
// started once the code exists.
TEST_P(Api, UneSessionDeBoutEnBoutSurDeuxRepliques) {
  auto s = lancer();
  const std::string j = jeton("ilvo"), cle_tech = cle_ssh("ilvo@poste"), cle_tunnel = cle_ssh(), cle_hote = cle_ssh();
  Rep c = code(s->adresse(), j, cle_tech);
  ASSERT_EQ(c.statut, 201);
  auto t = lancer();
  const std::string id = c.corps["session"], attente = "/v1/sessions/" + id + "/attendre";
  EXPECT_EQ(c.corps["code"].get<std::string>().size(), 6u);
  EXPECT_EQ(appeler(s->adresse(), "GET", attente + "?delai=0", j).corps, json({{"etat", "attente"}}));

  Rep a = accepter(t->adresse(), c.corps["code"], cle_tunnel);
  ASSERT_EQ(a.statut, 200);
  EXPECT_EQ(a.corps["session"], id);
  EXPECT_EQ(a.corps["technicien"], json({{"nom", "Ilvo"}, {"cle", cle_tech}}));
  EXPECT_EQ(a.corps["relais"]["compte"], "vimba-relais");
  EXPECT_EQ(accepter(s->adresse(), c.corps["code"], cle_tunnel).statut, 404) << "a code is good once";
  const int port = a.corps["relais"]["port_tunnel"];
  // What each key may do through the relay is checked against its sshd (relais_test.sh).
  EXPECT_EQ(cles(cle_tech), "") << "not ready yet";

  json faux = a.corps;
  faux["relais"]["port_tunnel"] = port + 1;
  EXPECT_EQ(prete(t->adresse(), faux, cle_hote).statut, 409);
  // The technician waits, the computer says ready meanwhile: the wait ends then.
  std::thread ordinateur([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(prete(t->adresse(), a.corps, cle_hote).statut, 200);
  });
  auto debut = std::chrono::steady_clock::now();
  Rep w = appeler(s->adresse(), "GET", attente + "?delai=20", j);
  ordinateur.join();
  EXPECT_LT(std::chrono::steady_clock::now() - debut, std::chrono::seconds(5));
  ASSERT_EQ(w.corps["etat"], "prete");
  EXPECT_EQ(w.corps["ordinateur"], json({{"port_tunnel", port}, {"cle_hote", cle_hote}, {"compte", "vimba-technicien"}}));
  EXPECT_EQ(w.corps["relais"], a.corps["relais"]);

  // SIGTERM is a clean stop; the other replica carries on.
  EXPECT_EQ(s->arreter(SIGTERM), 0);
  EXPECT_EQ(appeler(t->adresse(), "POST", "/v1/sessions/" + id + "/fermer", a.corps["secret"], "{}").statut, 200);
  EXPECT_EQ(appeler(t->adresse(), "POST", "/v1/sessions/" + id + "/fermer", j, "{}").statut, 200);
  EXPECT_EQ(appeler(t->adresse(), "GET", attente, j).corps, json({{"etat", "fermee"}}));
  EXPECT_EQ(cles(cle_tunnel), "");
  EXPECT_EQ(cles(cle_tech), "");
  EXPECT_EQ(prete(t->adresse(), a.corps, cle_hote).statut, 409);

  auto u = lancer();
  for (int tour = 0; tour < 3; ++tour)
    EXPECT_EQ(course({t.get(), u.get()}, code(t->adresse(), j, cle_ssh()).corps["code"]), std::make_pair(1, 7));
}

TEST_P(Api, RefusClairsEtRienDePerdu) {
  auto s = lancer();
  const std::string j = jeton("ilvo"), autre = jeton("autre"), cle = cle_ssh();
  Rep c = code(s->adresse(), j, cle);
  Rep a = accepter(s->adresse(), code(s->adresse(), j, cle).corps["code"], cle_ssh());
  const std::string id = c.corps["session"], id_a = a.corps["session"];
  const std::string injection = cle + "\nssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIMmP8SBnrGwh9GjFYF50HkpRQM+pBIQA7D3QlTXQx1FG";
  std::string rsa_pretendue = cle;
  rsa_pretendue.replace(0, 11, "ssh-rsa");
  struct Cas {
    const char* nom;
    std::string methode, chemin, porteur, corps;
    int statut;
  } cas[] = {
      {"sans jeton", "POST", "/v1/codes", "", json{{"nom", "x"}, {"cle", cle}}.dump(), 401},
      {"faux jeton", "POST", "/v1/codes", "faux", json{{"nom", "x"}, {"cle", cle}}.dump(), 401},
      {"JSON coupé", "POST", "/v1/codes", j, "{\"nom\":", 400},
      {"pas un objet", "POST", "/v1/codes", j, "[1,2]", 400},
      {"clé absente", "POST", "/v1/codes", j, R"({"nom":"x"})", 400},
      {"nom vide", "POST", "/v1/codes", j, json{{"nom", ""}, {"cle", cle}}.dump(), 400},
      {"ligne glissée dans la clé", "POST", "/v1/codes", j, json{{"nom", "x"}, {"cle", injection}}.dump(), 400},
      {"type démenti par la clé", "POST", "/v1/codes", j, json{{"nom", "x"}, {"cle", rsa_pretendue}}.dump(), 400},
      {"code à lettres", "POST", "/v1/codes/accepter", "", json{{"code", "12a456"}, {"cle_tunnel", cle}}.dump(), 400},
      {"code trop long", "POST", "/v1/codes/accepter", "", json{{"code", "1234567"}, {"cle_tunnel", cle}}.dump(), 400},
      {"UTF-8 invalide", "POST", "/v1/codes/accepter", "", "{\"code\":\"\xff\xfe\"}", 400},
      {"corps énorme", "POST", "/v1/codes/accepter", "", std::string(70000, ' '), 413},
      {"délai illisible", "GET", "/v1/sessions/" + id + "/attendre?delai=abc", j, "", 400},
      {"session d’un autre", "GET", "/v1/sessions/" + id + "/attendre?delai=0", autre, "", 403},
      {"session inconnue", "GET", "/v1/sessions/" + std::string(32, 'a') + "/attendre", j, "", 404},
      {"identifiant bizarre", "GET", "/v1/sessions/..%2f..%2fetc/attendre", j, "", 404},
      {"prête sans secret", "POST", "/v1/sessions/" + id_a + "/prete", "", "{}", 401},
      {"prête avec le jeton", "POST", "/v1/sessions/" + id_a + "/prete", j,
       json{{"port_tunnel", 1}, {"cle_hote", cle}, {"compte", "x"}}.dump(), 401},
      {"compte douteux", "POST", "/v1/sessions/" + id_a + "/prete", a.corps["secret"],
       json{{"port_tunnel", 1}, {"cle_hote", cle}, {"compte", "-oProxyCommand=x"}}.dump(), 400},
      {"fermer celle d’un autre", "POST", "/v1/sessions/" + id + "/fermer", autre, "{}", 403},
      {"fermer sans rien", "POST", "/v1/sessions/" + id + "/fermer", "", "{}", 401},
      {"appel inconnu", "GET", "/v1/codes", j, "", 404},
  };
  for (const Cas& k : cas) {
    Rep r = appeler(s->adresse(), k.methode, k.chemin, k.porteur, k.corps);
    EXPECT_EQ(r.statut, k.statut) << k.nom;
    EXPECT_TRUE(r.corps.is_object() && r.corps.contains("erreur")) << k.nom << " : " << r.corps.dump();
  }
  // A body announced as 1 GiB is refused at once, without waiting for it.
  EXPECT_EQ(envoyer_depuis("127.0.0.1", s->adresse(),
                           "POST /v1/codes/accepter HTTP/1.1\r\nHost: x\r\nContent-Length: 1073741824\r\n\r\n{\"code\":"),
            413);
  // Nothing above spoiled the live session or code.
  EXPECT_EQ(appeler(s->adresse(), "GET", "/v1/sessions/" + id + "/attendre?delai=0", j).corps["etat"], "attente");
  EXPECT_EQ(appeler(s->adresse(), "GET", "/v1/sante").statut, 200);
}

TEST_P(Api, UnCodeExpireAuBoutDeSaDuree) {
  auto s = lancer({{"duree_code", "1"}});
  const std::string j = jeton("ilvo");
  Rep c = code(s->adresse(), j, cle_ssh());
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_EQ(accepter(s->adresse(), c.corps["code"], cle_ssh()).statut, 404);
  EXPECT_EQ(appeler(s->adresse(), "GET", "/v1/sessions/" + c.corps["session"].get<std::string>() + "/attendre", j).corps,
            json({{"etat", "expiree"}}));
}

TEST_P(Api, LimiteParAdresseEtGlobale) {
  const std::string faux = json{{"code", "000000"}, {"cle_tunnel", cle_ssh()}}.dump();
  struct Cas {
    const char* nom;
    const char *par_adresse, *globale;
    int statut_autre_adresse;
  } cas[] = {{"par adresse", "3", "1000", 404}, {"globale", "1000", "3", 429}};
  for (const Cas& k : cas) {
    nouvelle_base();
    auto s = lancer({{"limite_adresse", k.par_adresse}, {"limite_globale", k.globale}});
    const std::string j = jeton(std::string("t") + k.globale);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(poster_depuis("127.0.0.1", s->adresse(), faux), 404) << k.nom;
    Rep bloque = accepter(s->adresse(), code(s->adresse(), j, cle_ssh()).corps["code"], cle_ssh());
    EXPECT_EQ(bloque.statut, 429) << k.nom << ": even a good code waits";
    int attente = std::atoi(bloque.reessayer.c_str());
    EXPECT_TRUE(attente >= 1 && attente <= 60) << bloque.reessayer;
    EXPECT_EQ(poster_depuis("127.0.0.2", s->adresse(), faux), k.statut_autre_adresse) << k.nom;
  }
  // Behind a trusted load balancer, clients are told apart by X-Forwarded-For.
  nouvelle_base();
  auto s = lancer({{"limite_adresse", "2"}, {"mandataires", "10.9.9.9,127.0.0.1"}});
  auto depuis = [&](std::string client) {
    return poster_depuis("127.0.0.1", s->adresse(), faux, "X-Forwarded-For: 10.1.1.1, " + client + "\r\n");
  };
  EXPECT_EQ(depuis("203.0.113.1"), 404);
  EXPECT_EQ(depuis("203.0.113.1"), 404);
  EXPECT_EQ(depuis("203.0.113.1"), 429);
  EXPECT_EQ(depuis("203.0.113.2"), 404);
}

// Ports are reused once a session ends; a revoked token closes its sessions.
TEST_P(Api, UnPortDeRelaisParSessionVivanteEtRevocation) {
  auto s = lancer({{"ports", "45100-45101"}});
  const std::string j = jeton("ilvo"), cle_tech = cle_ssh();
  Rep a = accepter(s->adresse(), code(s->adresse(), j, cle_ssh()).corps["code"], cle_ssh());
  Rep b = accepter(s->adresse(), code(s->adresse(), j, cle_ssh()).corps["code"], cle_ssh());
  ASSERT_EQ(a.statut, 200);
  ASSERT_EQ(b.statut, 200);
  EXPECT_NE(a.corps["relais"]["port_tunnel"], b.corps["relais"]["port_tunnel"]);
  const std::string troisieme = code(s->adresse(), j, cle_tech).corps["code"];
  EXPECT_EQ(accepter(s->adresse(), troisieme, cle_ssh()).statut, 503);
  // The refusal kept the code: once a session ends, its port serves the next one.
  appeler(s->adresse(), "POST", "/v1/sessions/" + a.corps["session"].get<std::string>() + "/fermer", j, "{}");
  Rep c = accepter(s->adresse(), troisieme, cle_ssh());
  ASSERT_EQ(c.statut, 200);
  EXPECT_EQ(c.corps["relais"]["port_tunnel"], a.corps["relais"]["port_tunnel"]);

  ASSERT_EQ(prete(s->adresse(), c.corps, cle_ssh()).statut, 200);
  EXPECT_NE(cles(cle_tech), "");
  EXPECT_EQ(essais::executer({binaire, "jeton", "revoquer", "ilvo", "--base", base_}, "/dev/null"), 0);
  EXPECT_EQ(essais::executer({binaire, "jeton", "revoquer", "ilvo", "--base", base_}, "/dev/null"), 1);
  EXPECT_EQ(cles(cle_tech), "");
  EXPECT_EQ(code(s->adresse(), j, cle_ssh()).statut, 401);
}

INSTANTIATE_TEST_SUITE_P(Bases, Api, ::testing::Values(Genre::sqlite, Genre::postgres),
                         [](const auto& i) { return i.param == Genre::sqlite ? "SQLite" : "PostgreSQL"; });

TEST(Configuration, UneValeurFausseEstNommeeEtRienNeDemarre) {
  Dossier d;
  const std::string conf = (d.chemin / "mauvaise.conf").string();
  {
    std::ofstream(conf) << "# commentaire\nbase=sqlite:/nonexistent/x.db\nligne sans egal\n";
  }
  const std::string base = "sqlite:" + (d.chemin / "s.db").string();
  struct Cas {
    std::vector<std::string> arguments;
    int statut;
    std::string message;
  } cas[] = {
      {{"servir", "--ports", "50000-40000"}, 2, "ports"},
      {{"servir", "--ecoute", "sans-port"}, 2, "ecoute"},
      // Serving over TLS is exercised by tests/session/session_test.sh.
      {{"servir", "--ecoute", "0.0.0.0:0"}, 2, "HTTP en clair refusé"},
      {{"servir", "--relais_cle_hote", "ssh-ed25519 pasdubase64"}, 2, "clé d’hôte du relais"},
      {{"servir", "--sur_disque", "peut-etre"}, 2, "sur_disque"},
      {{"servir", "--duree_code", "0"}, 2, "duree_code"},
      {{"servir", "--conf", conf}, 2, "mauvaise.conf:3"},
      {{"servir", "--conf", "/nonexistent/service.conf"}, 2, "configuration illisible"},
      {{"servir", "--base", "sqlite:/nonexistent/dossier/s.db"}, 1, "base inaccessible"},
      {{"jeton", "creer", "nom avec espace"}, 1, "nom de jeton invalide"},
      {{"jeton", "creer", "ilvo"}, 1, "déjà"},
      {{"jeton", "revoquer", "personne"}, 1, "aucun jeton"},
      {{"cles", "vimba-relais", "ssh-ed25519"}, 2, "usage"},
      {{"inconnu"}, 2, "usage"},
  };
  ASSERT_EQ(essais::executer({binaire, "jeton", "creer", "ilvo", "--base", base}, "/dev/null"), 0);
  int n = 0;
  for (const Cas& k : cas) {
    std::vector<std::string> argv{binaire};
    argv.insert(argv.end(), k.arguments.begin(), k.arguments.end());
    if (k.arguments[0] != "servir" || k.arguments[1] != "--base") {
      argv.push_back("--base");
      argv.push_back(base);
    }
    if (k.arguments[0] == "servir") {
      argv.push_back("--ecoute");
      argv.push_back(k.arguments[1] == "--ecoute" ? k.arguments[2] : "127.0.0.1:0");
    }
    const std::string journal = (d.chemin / ("cas-" + std::to_string(++n))).string();
    EXPECT_EQ(essais::executer(argv, journal), k.statut) << k.message;
    EXPECT_NE(essais::lire_fichier(journal).find(k.message), std::string::npos) << essais::lire_fichier(journal);
  }
}

}  // namespace
