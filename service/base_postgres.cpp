// PostgreSQL back end (libpq): a small pool of connections shared by the threads, so
// several replicas fit under the server's connection limit.
#include <libpq-fe.h>

#include <condition_variable>
#include <mutex>

#include "service/base.h"

namespace vimba::service {
namespace {

class ConnexionPostgres : public Requete {
 public:
  explicit ConnexionPostgres(PGconn* c) : c_(c) {}
  ~ConnexionPostgres() override { PQfinish(c_); }
  ConnexionPostgres(const ConnexionPostgres&) = delete;
  ConnexionPostgres& operator=(const ConnexionPostgres&) = delete;

  std::optional<std::vector<Ligne>> executer(const std::string& sql,
                                             const std::vector<Valeur>& parametres) override {
    std::vector<std::string> textes(parametres.size());
    std::vector<const char*> valeurs(parametres.size(), nullptr);
    for (std::size_t i = 0; i < parametres.size(); ++i) {
      if (auto* e = std::get_if<int64_t>(&parametres[i])) textes[i] = std::to_string(*e);
      else if (auto* s = std::get_if<std::string>(&parametres[i])) textes[i] = *s;
      else continue;
      valeurs[i] = textes[i].c_str();
    }
    PGresult* r = PQexecParams(c_, sql.c_str(), int(valeurs.size()), nullptr, valeurs.data(),
                               nullptr, nullptr, 0);
    ExecStatusType etat = PQresultStatus(r);
    if (etat != PGRES_COMMAND_OK && etat != PGRES_TUPLES_OK) {
      erreur_ = PQresultErrorMessage(r);
      PQclear(r);
      return std::nullopt;
    }
    std::vector<Ligne> lignes(PQntuples(r));
    for (int l = 0; l < PQntuples(r); ++l)
      for (int c = 0; c < PQnfields(r); ++c)
        lignes[l].push_back(PQgetisnull(r, l, c) ? std::nullopt
                                                 : std::optional<std::string>(PQgetvalue(r, l, c)));
    PQclear(r);
    return lignes;
  }

  bool brut(const char* sql) {
    PGresult* r = PQexec(c_, sql);
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok) erreur_ = PQresultErrorMessage(r);
    PQclear(r);
    return ok;
  }

  bool vivante() const { return PQstatus(c_) == CONNECTION_OK; }

  std::string erreur_;

 private:
  PGconn* c_;
};

class BasePostgres : public Base {
 public:
  BasePostgres(std::string conninfo, std::size_t maximum, SurDisque disque)
      : conninfo_(std::move(conninfo)), maximum_(maximum), disque_(disque) {}

  std::unique_ptr<ConnexionPostgres> ouvrir(std::string& erreur) {
    PGconn* c = PQconnectdb(conninfo_.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
      erreur = PQerrorMessage(c);
      PQfinish(c);
      return nullptr;
    }
    // « already exists, skipping » and the like are no news to anyone.
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    auto connexion = std::make_unique<ConnexionPostgres>(c);
    if (disque_ != SurDisque::defaut &&
        !connexion->brut(disque_ == SurDisque::oui ? "SET synchronous_commit = on" : "SET synchronous_commit = off")) {
      erreur = connexion->erreur_;
      return nullptr;
    }
    return connexion;
  }

  bool transaction(const std::function<bool(Requete&)>& corps) override {
    std::unique_ptr<ConnexionPostgres> c = prendre();
    if (!c) return false;
    const bool ok = en_transaction(*c, "BEGIN", corps);
    erreur_ = c->erreur_;
    rendre(std::move(c));
    return ok;
  }

  std::string derniere_erreur() const override { return erreur_; }

  void garder(std::unique_ptr<ConnexionPostgres> c) {
    {
      std::lock_guard<std::mutex> v(verrou_);
      ++ouvertes_;
    }
    rendre(std::move(c));
  }

  void rendre(std::unique_ptr<ConnexionPostgres> c) {
    std::lock_guard<std::mutex> v(verrou_);
    // A broken connection is dropped; the next taker opens a fresh one.
    if (c->vivante()) libres_.push_back(std::move(c));
    else --ouvertes_;
    libre_.notify_one();
  }

 private:
  std::unique_ptr<ConnexionPostgres> prendre() {
    {
      std::unique_lock<std::mutex> v(verrou_);
      libre_.wait(v, [&] { return !libres_.empty() || ouvertes_ < maximum_; });
      if (!libres_.empty()) {
        auto c = std::move(libres_.back());
        libres_.pop_back();
        return c;
      }
      ++ouvertes_;
    }
    std::string e;
    auto c = ouvrir(e);
    if (!c) {
      erreur_ = e;
      std::lock_guard<std::mutex> v(verrou_);
      --ouvertes_;
      libre_.notify_one();
    }
    return c;
  }

  std::string conninfo_;
  std::size_t maximum_;
  SurDisque disque_;
  std::mutex verrou_;
  std::condition_variable libre_;
  std::vector<std::unique_ptr<ConnexionPostgres>> libres_;
  std::size_t ouvertes_ = 0;
  static thread_local std::string erreur_;
};

thread_local std::string BasePostgres::erreur_;

}  // namespace

std::unique_ptr<Base> ouvrir_postgres(const std::string& conninfo, SurDisque disque, std::string& erreur) {
  auto base = std::make_unique<BasePostgres>(conninfo, 8, disque);
  auto essai = base->ouvrir(erreur);
  if (!essai) return nullptr;
  base->garder(std::move(essai));
  return base;
}

}  // namespace vimba::service
