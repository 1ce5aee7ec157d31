// Code creation and acceptance against the service on one core, SQLite and PostgreSQL:
// p50/p99 latency of calls one after the other, and calls per second from 4 clients. The
// baseline is the health check's round trip, measured in the same run on the same process.
// Usage: bench_service [CALLS] [SECONDS]
#include <httplib.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "service/aleatoire.h"
#include "tests/service/lanceur.h"

namespace {

using nlohmann::json;
using horloge = std::chrono::steady_clock;

std::string cle_ssh() {
  std::string blob = std::string("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19) + vimba::service::octets_aleatoires(32);
  std::string b64 = vimba::service::base64url(blob);
  for (char& c : b64) c = c == '-' ? '+' : c == '_' ? '/' : c;
  while (b64.size() % 4) b64 += '=';
  return "ssh-ed25519 " + b64;
}

struct Mesure {
  double p50 = 0, p99 = 0, par_seconde = 0;
};

double rang(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(q * v.size()))];
}

// One call; the answer's body, empty on failure.
using Appel = std::function<bool(httplib::Client&, int)>;

Mesure mesurer(const std::string& adresse, int n, double secondes, const Appel& appel) {
  Mesure m;
  {
    httplib::Client c(adresse);
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
      auto t0 = horloge::now();
      if (!appel(c, i)) std::fprintf(stderr, "échec d’un appel\n");
      ms.push_back(std::chrono::duration<double, std::milli>(horloge::now() - t0).count());
    }
    m.p50 = rang(ms, 0.50);
    m.p99 = rang(ms, 0.99);
  }
  // The 4 clients stop at the first failure too (acceptance runs out of codes).
  std::atomic<int> faits = 0;
  std::atomic<bool> fin = false;
  std::vector<std::thread> clients;
  auto t0 = horloge::now();
  std::atomic<int64_t> arret{0};
  for (int k = 0; k < 4; ++k)
    clients.emplace_back([&, k] {
      httplib::Client c(adresse);
      for (int i = n + k; !fin; i += 4) {
        if (!appel(c, i)) break;
        ++faits;
      }
      int64_t zero = 0;
      arret.compare_exchange_strong(zero, (horloge::now() - t0).count());
      fin = true;
    });
  for (int i = 0; i < secondes * 100 && !fin; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  int64_t zero = 0;
  arret.compare_exchange_strong(zero, (horloge::now() - t0).count());
  fin = true;
  for (auto& t : clients) t.join();
  m.par_seconde = faits / std::chrono::duration<double>(horloge::duration(arret.load())).count();
  return m;
}

void banc(const std::string& nom, const std::string& base, int n, double secondes, const std::string& disque = "") {
  essais::Dossier d;
  const std::string binaire = VIMBA_SERVICE_BINAIRE;
  const std::string sortie = (d.chemin / "jeton").string();
  essais::executer({binaire, "jeton", "creer", "banc", "--base", base}, sortie);
  std::string jeton = essais::lire_fichier(sortie);
  jeton = jeton.substr(0, jeton.find('\n'));
  // The service on the first core, the clients on the other.
  essais::ServiceLance s(binaire, d.chemin,
                         {{"ecoute", "127.0.0.1:0"}, {"base", base}, {"limite_adresse", "1000000000"},
                          {"limite_globale", "1000000000"}, {"ports", "20000-59999"}, {"relais_cle_hote", cle_ssh()},
                          {"sur_disque", disque.empty() ? "oui" : disque}},
                         {"/usr/bin/taskset", "-c", "0"});
  if (!s.demarrer()) {
    std::fprintf(stderr, "%s : le service ne démarre pas\n%s", nom.c_str(), s.journal().c_str());
    return;
  }
  const httplib::Headers auth{{"Authorization", "Bearer " + jeton}};
  const std::string corps_code = json{{"nom", "Banc"}, {"cle", cle_ssh()}}.dump();
  std::vector<std::string> codes;
  std::mutex verrou;
  Mesure sante = mesurer(s.adresse(), n, secondes, [](httplib::Client& c, int) {
    auto r = c.Get("/v1/sante");
    return r && r->status == 200;
  });
  Mesure creation = mesurer(s.adresse(), n, secondes, [&](httplib::Client& c, int) {
    auto r = c.Post("/v1/codes", auth, corps_code, "application/json");
    if (!r || r->status != 201) return false;
    std::lock_guard<std::mutex> v(verrou);
    codes.push_back(json::parse(r->body)["code"]);
    return true;
  });
  // Each acceptance uses up one of the codes just made (live codes are unique).
  std::atomic<size_t> suivant = 0;
  const std::string cle_tunnel = cle_ssh();
  Mesure acceptation = mesurer(s.adresse(), n, secondes, [&](httplib::Client& c, int) {
    size_t i = suivant++;
    if (i >= codes.size()) return false;
    auto r = c.Post("/v1/codes/accepter", json{{"code", codes[i]}, {"cle_tunnel", cle_tunnel}}.dump(), "application/json");
    return r && r->status == 200;
  });
  auto ligne = [&](const char* quoi, const Mesure& m) {
    std::printf("%-13s %-12s p50 %6.2f ms (%5.1f×)  p99 %6.2f ms (%5.1f×)  %7.0f/s (%4.2f×)\n", nom.c_str(), quoi, m.p50,
                m.p50 / sante.p50, m.p99, m.p99 / sante.p99, m.par_seconde, m.par_seconde / sante.par_seconde);
  };
  ligne("santé", sante);
  ligne("code", creation);
  ligne("acceptation", acceptation);
  std::printf("%-13s objectif : acceptation p99 ≤ 20 ms → %s\n", nom.c_str(), acceptation.p99 <= 20 ? "tenu" : "MANQUÉ");
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 500;
  const double secondes = argc > 2 ? std::atof(argv[2]) : 3;
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  CPU_SET(1, &cpus);
  sched_setaffinity(0, sizeof cpus, &cpus);
  std::printf("%d appels à la suite puis 4 clients pendant %.0f s ; entre parenthèses : rapport à la santé\n", n, secondes);
  {
    essais::Dossier d;
    banc("SQLite", "sqlite:" + (d.chemin / "banc.db").string(), n, secondes, "non");
    banc("SQLite fsync", "sqlite:" + (d.chemin / "banc-fsync.db").string(), n, secondes, "oui");
  }
  essais::PostgresTemp pg;
  if (!pg.pret()) {
    std::fprintf(stderr, "PostgreSQL : %s\n", pg.erreur().c_str());
    return 1;
  }
  banc("PostgreSQL", pg.base("banc"), n, secondes);
  banc("PG sans fsync", pg.base("banc_sans_attente"), n, secondes, "non");
  return 0;
}
