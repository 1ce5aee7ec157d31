// SQLite back end: one file, WAL journal, writers serialised by BEGIN IMMEDIATE.
#include <sqlite3.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "service/base.h"

namespace vimba::service {
namespace {

// One open connection with its prepared statements; used by one transaction at a time.
class ConnexionSqlite : public Requete {
 public:
  ConnexionSqlite(sqlite3* db) : db_(db) {}
  ~ConnexionSqlite() override {
    for (auto& [sql, st] : prepares_) sqlite3_finalize(st);
    sqlite3_close(db_);
  }
  ConnexionSqlite(const ConnexionSqlite&) = delete;
  ConnexionSqlite& operator=(const ConnexionSqlite&) = delete;

  std::optional<std::vector<Ligne>> executer(const std::string& sql,
                                             const std::vector<Valeur>& parametres) override {
    sqlite3_stmt* st = preparer(sql);
    if (!st) return std::nullopt;
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    const int n = sqlite3_bind_parameter_count(st);
    for (int i = 1; i <= n; ++i) {
      const char* nom = sqlite3_bind_parameter_name(st, i);
      std::size_t k = nom && nom[0] == '$' ? std::strtoul(nom + 1, nullptr, 10) : 0;
      if (k == 0 || k > parametres.size()) {
        erreur_ = "paramètre manquant dans : " + sql;
        return std::nullopt;
      }
      const Valeur& v = parametres[k - 1];
      if (auto* e = std::get_if<int64_t>(&v)) sqlite3_bind_int64(st, i, *e);
      else if (auto* s = std::get_if<std::string>(&v))
        sqlite3_bind_text(st, i, s->data(), int(s->size()), SQLITE_TRANSIENT);
      else sqlite3_bind_null(st, i);
    }
    std::vector<Ligne> lignes;
    for (;;) {
      int rc = sqlite3_step(st);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) {
        erreur_ = sqlite3_errmsg(db_);
        sqlite3_reset(st);
        return std::nullopt;
      }
      Ligne l;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        if (sqlite3_column_type(st, c) == SQLITE_NULL) l.emplace_back();
        else l.emplace_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c)),
                                        sqlite3_column_bytes(st, c)));
      }
      lignes.push_back(std::move(l));
    }
    sqlite3_reset(st);
    return lignes;
  }

  bool brut(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    erreur_ = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
  }

  std::string erreur_;

 private:
  sqlite3_stmt* preparer(const std::string& sql) {
    auto it = prepares_.find(sql);
    if (it != prepares_.end()) return it->second;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK) {
      erreur_ = sqlite3_errmsg(db_);
      return nullptr;
    }
    prepares_.emplace(sql, st);
    return st;
  }

  sqlite3* db_;
  std::unordered_map<std::string, sqlite3_stmt*> prepares_;
};

class BaseSqlite : public Base {
 public:
  BaseSqlite(std::string chemin, bool lecture_seule, SurDisque disque)
      : chemin_(std::move(chemin)), lecture_seule_(lecture_seule), sur_disque_(disque == SurDisque::oui) {}

  std::unique_ptr<ConnexionSqlite> ouvrir(std::string& erreur) {
    sqlite3* db = nullptr;
    int drapeaux = lecture_seule_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(chemin_.c_str(), &db, drapeaux | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
      erreur = db ? sqlite3_errmsg(db) : "sqlite indisponible";
      sqlite3_close(db);
      return nullptr;
    }
    auto c = std::make_unique<ConnexionSqlite>(db);
    sqlite3_busy_timeout(db, 10000);
    // In WAL mode, NORMAL writes each commit to the file before COMMIT returns and leaves
    // the fsync to checkpoints: a service crash loses nothing, an OS crash may lose the last.
    if (!lecture_seule_ && !(c->brut("PRAGMA journal_mode=WAL") &&
                             c->brut(sur_disque_ ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL"))) {
      erreur = c->erreur_;
      return nullptr;
    }
    return c;
  }

  bool transaction(const std::function<bool(Requete&)>& corps) override {
    std::unique_ptr<ConnexionSqlite> c = prendre();
    if (!c) return false;
    const bool ok = en_transaction(*c, lecture_seule_ ? "BEGIN" : "BEGIN IMMEDIATE", corps);
    erreur_ = c->erreur_;
    std::lock_guard<std::mutex> v(verrou_);
    libres_.push_back(std::move(c));
    return ok;
  }

  std::string derniere_erreur() const override { return erreur_; }

 private:
  std::unique_ptr<ConnexionSqlite> prendre() {
    {
      std::lock_guard<std::mutex> v(verrou_);
      if (!libres_.empty()) {
        auto c = std::move(libres_.back());
        libres_.pop_back();
        return c;
      }
    }
    std::string e;
    auto c = ouvrir(e);
    if (!c) erreur_ = e;
    return c;
  }

  std::string chemin_;
  bool lecture_seule_, sur_disque_;
  mutable std::mutex verrou_;
  std::vector<std::unique_ptr<ConnexionSqlite>> libres_;
  // The failure of the calling thread's last transaction.
  static thread_local std::string erreur_;
};

thread_local std::string BaseSqlite::erreur_;

}  // namespace

std::unique_ptr<Base> ouvrir_sqlite(const std::string& chemin, bool lecture_seule, SurDisque disque,
                                    std::string& erreur) {
  auto base = std::make_unique<BaseSqlite>(chemin, lecture_seule, disque);
  auto essai = base->ouvrir(erreur);
  if (!essai) return nullptr;
  return base;
}

}  // namespace vimba::service
