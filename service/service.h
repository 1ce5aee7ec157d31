#pragma once
// The support service's logic: technicians' tokens, codes, sessions and the relay's keys,
// all kept in the Base so that any replica, or a restarted one, carries on. repondre is
// called on the HTTP server's threads, concurrently.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "service/base.h"

namespace vimba::service {

struct Reglages {
  std::string relais_hote = "127.0.0.1";
  int64_t relais_port = 22;
  std::string relais_compte = "vimba-relais";
  std::string relais_cle_hote;
  int64_t port_min = 40000, port_max = 49999;  // ports allotted to tunnels on the relay
  int64_t duree_code = 600;                    // seconds a code may be accepted
  int64_t duree_session = 86400;               // seconds a session may last once accepted
  int64_t limite_adresse = 10;                 // failed accepts per minute and client address
  int64_t limite_globale = 120;                // failed accepts per minute in all
  int64_t sondage_ms = 250;                    // how often a waiting call looks at the base
};

struct Demande {
  std::string methode, chemin, autorisation, corps, adresse;
  std::optional<std::string> delai;
};

struct Reponse {
  int statut = 200;
  std::string corps;
  int64_t reessayer = 0;  // Retry-After seconds, when non-zero
};

using Horloge = std::function<int64_t()>;  // UNIX seconds
int64_t maintenant_unix();

class Service {
 public:
  Service(Base& base, Reglages reglages, Horloge horloge = maintenant_unix);

  // Creates the tables when missing. False with the reason when the base refuses.
  bool preparer(std::string& erreur);
  Reponse repondre(const Demande& demande);
  // Ends the waiting calls now (they answer « attente »), so that the server can stop.
  void arreter();

  // The new token, printed once; nullopt with the reason (name taken, bad name, base).
  std::optional<std::string> creer_jeton(const std::string& nom, std::string& erreur);
  // Removes the token and closes its sessions. False when no such token or on failure.
  bool revoquer_jeton(const std::string& nom, std::string& erreur);

  // authorized_keys lines for sshd's AuthorizedKeysCommand (empty: not allowed in);
  // nullopt when the base cannot be read.
  std::optional<std::string> lignes_autorisees(const std::string& compte, const std::string& type,
                                               const std::string& blob);

 private:
  Reponse creer_code(const Demande& d);
  Reponse accepter(const Demande& d);
  Reponse prete(const Demande& d, const std::string& id);
  Reponse attendre(const Demande& d, const std::string& id);
  Reponse fermer(const Demande& d, const std::string& id);
  std::optional<std::string> technicien(const std::string& porteur, bool& panne);
  void changement();

  Base& base_;
  Reglages r_;
  Horloge horloge_;
  // Wakes this process's waiting calls early; other replicas are seen by polling.
  std::mutex verrou_;
  std::condition_variable change_;
  uint64_t generation_ = 0;
  bool arret_ = false;
};

}  // namespace vimba::service
