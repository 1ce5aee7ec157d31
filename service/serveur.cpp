#include "service/serveur.h"

#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "service/base.h"
#include "service/service.h"

namespace vimba::service {
namespace {

constexpr std::size_t corps_maximal = 64 * 1024;

struct Ecoute {
  std::string hote;
  int port = 0;
};

std::optional<Ecoute> lire_ecoute(const std::string& texte) {
  auto deux_points = texte.rfind(':');
  if (deux_points == std::string::npos || deux_points == 0) return std::nullopt;
  Ecoute e;
  e.hote = texte.substr(0, deux_points);
  if (e.hote.size() > 2 && e.hote.front() == '[' && e.hote.back() == ']') e.hote = e.hote.substr(1, e.hote.size() - 2);
  try {
    std::size_t fin = 0;
    e.port = std::stoi(texte.substr(deux_points + 1), &fin);
    if (fin != texte.size() - deux_points - 1 || e.port < 0 || e.port > 65535) return std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
  return e;
}

const char* message_statut(int statut) {
  switch (statut) {
    case 400: return "demande malformée";
    case 404: return "appel inconnu";
    case 413: return "corps trop grand (64 Kio au plus)";
    case 414: return "adresse trop longue";
    default: return statut >= 500 ? "erreur interne" : "demande refusée";
  }
}

}  // namespace

bool boucle_locale(const std::string& hote) {
  return hote == "localhost" || hote == "::1" || hote.rfind("127.", 0) == 0;
}

int servir(const Config& config) {
  std::string erreur;
  auto r = reglages(config, erreur);
  if (!r) {
    std::fprintf(stderr, "vimba-service : %s\n", erreur.c_str());
    return 2;
  }
  auto ecoute = lire_ecoute(config.valeur("ecoute", "127.0.0.1:8080"));
  if (!ecoute) {
    std::fprintf(stderr, "vimba-service : ecoute : « HOTE:PORT » attendu\n");
    return 2;
  }
  const std::string certificat = config.valeur("certificat"), cle = config.valeur("cle_privee");
  const bool tls = !certificat.empty() || !cle.empty();
  if (!tls && !boucle_locale(ecoute->hote)) {
    std::fprintf(stderr, "vimba-service : HTTP en clair refusé hors de la boucle locale (%s) : "
                         "donnez certificat= et cle_privee=\n", ecoute->hote.c_str());
    return 2;
  }
  const std::string url = config.valeur("base", "sqlite:/var/lib/vimba-service/service.db");
  const std::string disque = config.valeur("sur_disque");
  if (!disque.empty() && disque != "oui" && disque != "non") {
    std::fprintf(stderr, "vimba-service : sur_disque : « oui » ou « non »\n");
    return 2;
  }
  auto base = ouvrir_base(url, false, erreur,
                          disque.empty() ? SurDisque::defaut : disque == "oui" ? SurDisque::oui : SurDisque::non);
  if (!base) {
    std::fprintf(stderr, "vimba-service : base inaccessible : %s\n", erreur.c_str());
    return 1;
  }
  Service service(*base, *r);
  if (!service.preparer(erreur)) {
    std::fprintf(stderr, "vimba-service : tables impossibles à créer : %s\n", erreur.c_str());
    return 1;
  }

  std::unique_ptr<httplib::Server> serveur;
  if (tls) {
    auto s = std::make_unique<httplib::SSLServer>(certificat.c_str(), cle.c_str());
    if (!s->is_valid()) {
      std::fprintf(stderr, "vimba-service : certificat ou clé TLS illisible\n");
      return 2;
    }
    serveur = std::move(s);
  } else {
    serveur = std::make_unique<httplib::Server>();
  }
  int fils = 64;
  try {
    fils = std::clamp(std::stoi(config.valeur("fils", "64")), 2, 1024);
  } catch (...) {
  }
  // Waiting calls hold a thread for up to 30 s each, hence many threads.
  serveur->new_task_queue = [fils] { return new httplib::ThreadPool(fils); };
  serveur->set_payload_max_length(corps_maximal);
  serveur->set_read_timeout(10, 0);
  serveur->set_write_timeout(10, 0);
  // Behind these load balancers, the client is the last address they add to X-Forwarded-For.
  std::vector<std::string> mandataires;
  {
    std::string liste = config.valeur("mandataires") + ",";
    for (std::size_t debut = 0, virgule; (virgule = liste.find(',', debut)) != std::string::npos; debut = virgule + 1)
      if (virgule > debut) mandataires.push_back(liste.substr(debut, virgule - debut));
  }
  auto client = [mandataires](const httplib::Request& req) {
    if (std::find(mandataires.begin(), mandataires.end(), req.remote_addr) == mandataires.end()) return req.remote_addr;
    std::string relaye = req.get_header_value("X-Forwarded-For");
    relaye = relaye.substr(relaye.rfind(',') == std::string::npos ? 0 : relaye.rfind(',') + 1);
    relaye.erase(0, relaye.find_first_not_of(' '));
    relaye.erase(relaye.find_last_not_of(' ') + 1);
    return relaye.empty() || relaye.size() > 64 ? req.remote_addr : relaye;
  };
  auto traiter = [&](const httplib::Request& req, httplib::Response& res) {
    Demande d;
    d.methode = req.method;
    d.chemin = req.path;
    d.autorisation = req.get_header_value("Authorization");
    d.corps = req.body;
    d.adresse = client(req);
    if (req.has_param("delai")) d.delai = req.get_param_value("delai");
    Reponse rep = service.repondre(d);
    res.status = rep.statut;
    res.set_content(rep.corps, "application/json; charset=utf-8");
    if (rep.reessayer > 0) res.set_header("Retry-After", std::to_string(rep.reessayer));
    if (rep.statut >= 500)
      std::fprintf(stderr, "vimba-service : %s %s → %d %s\n", req.method.c_str(), req.path.c_str(),
                   rep.statut, base->derniere_erreur().c_str());
  };
  // An announced body too large is refused before a byte of it is read, and the connection
  // closed: the library would otherwise read it all to throw it away.
  serveur->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    const std::string longueur = req.get_header_value("Content-Length");
    if (longueur.empty() || (longueur.size() < 10 && std::strtoull(longueur.c_str(), nullptr, 10) <= corps_maximal))
      return httplib::Server::HandlerResponse::Unhandled;
    res.status = 413;
    res.set_header("Connection", "close");
    res.set_content(std::string("{\"erreur\":\"") + message_statut(413) + "\"}", "application/json; charset=utf-8");
    return httplib::Server::HandlerResponse::Handled;
  });
  serveur->Get(".*", traiter);
  serveur->Post(".*", traiter);
  serveur->set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty())
      res.set_content(std::string("{\"erreur\":\"") + message_statut(res.status) + "\"}",
                      "application/json; charset=utf-8");
  });
  serveur->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    res.status = 500;
    res.set_content("{\"erreur\":\"erreur interne\"}", "application/json; charset=utf-8");
  });

  int port = ecoute->port == 0 ? serveur->bind_to_any_port(ecoute->hote) : ecoute->port;
  if (port <= 0 || (ecoute->port != 0 && !serveur->bind_to_port(ecoute->hote, ecoute->port))) {
    std::fprintf(stderr, "vimba-service : impossible d’écouter sur %s\n", config.valeur("ecoute", "127.0.0.1:8080").c_str());
    return 1;
  }
  const std::string hote = ecoute->hote.find(':') != std::string::npos ? "[" + ecoute->hote + "]" : ecoute->hote;
  const std::string adresse = std::string(tls ? "https://" : "http://") + hote + ":" + std::to_string(port);
  // The address announced once listening, written whole so a reader never sees half of it.
  const std::string annonce = config.valeur("annonce");
  if (!annonce.empty()) {
    const std::string provisoire = annonce + ".tmp";
    {
      std::ofstream out(provisoire, std::ios::trunc);
      out << adresse << "\n";
    }
    if (std::rename(provisoire.c_str(), annonce.c_str()) != 0) {
      std::fprintf(stderr, "vimba-service : impossible d’écrire %s\n", annonce.c_str());
      return 1;
    }
  }

  // Signals are taken by one thread that stops the server; the others never see them.
  sigset_t signaux;
  sigemptyset(&signaux);
  sigaddset(&signaux, SIGTERM);
  sigaddset(&signaux, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signaux, nullptr);
  std::thread veilleur([&] {
    int s = 0;
    sigwait(&signaux, &s);
    service.arreter();
    serveur->stop();
  });
  std::fprintf(stderr, "vimba-service : écoute sur %s, base %s\n", adresse.c_str(),
               url.rfind("sqlite:", 0) == 0 ? url.c_str() : "PostgreSQL");
  bool ok = serveur->listen_after_bind();
  // Wakes the signal thread when the server stopped for another reason.
  pthread_kill(veilleur.native_handle(), SIGTERM);
  veilleur.join();
  return ok ? 0 : 1;
}

}  // namespace vimba::service
