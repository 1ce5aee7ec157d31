#pragma once
// The service's storage: one narrow interface, two back ends (SQLite for one machine,
// PostgreSQL for replicas). The service speaks one SQL dialect, the common part of both,
// with parameters written $1, $2 …. Safe to use from any thread; each transaction runs
// on a connection of its own.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vimba::service {

using Valeur = std::variant<std::monostate, int64_t, std::string>;
// A row read back as text (NULL is nullopt).
using Ligne = std::vector<std::optional<std::string>>;

// The statements of one transaction. executer returns nullopt when the statement failed;
// the transaction is then rolled back whatever the function returns.
class Requete {
 public:
  virtual ~Requete() = default;
  virtual std::optional<std::vector<Ligne>> executer(const std::string& sql,
                                                     const std::vector<Valeur>& parametres = {}) = 0;
};

class Base {
 public:
  virtual ~Base() = default;
  // Runs corps in one transaction, committed when it returns true and every statement
  // succeeded. False when rolled back or when the storage failed (the error is in
  // derniere_erreur()). Writers are serialised by the back end, so a transaction that
  // reads then writes sees no concurrent change in between on the rows it writes.
  virtual bool transaction(const std::function<bool(Requete&)>& corps) = 0;
  virtual std::string derniere_erreur() const = 0;
};

// The shape both back ends share: begin, the body, then commit, or roll back keeping the
// body's error. A connection offers brut(sql) -> bool and its last error in erreur_.
template <class Connexion>
bool en_transaction(Connexion& c, const char* debut, const std::function<bool(Requete&)>& corps) {
  c.erreur_.clear();
  if (!c.brut(debut)) return false;
  if (corps(c) && c.erreur_.empty()) return c.brut("COMMIT");
  const std::string e = c.erreur_;
  c.brut("ROLLBACK");
  c.erreur_ = e;
  return false;
}

// Whether a commit waits for the disk (one fsync each) before it returns. defaut: SQLite
// writes the commit to its file and leaves the fsync to checkpoints, so a crash or restart
// of the service loses nothing and only an OS crash may; PostgreSQL keeps its server's
// synchronous_commit. oui: both wait for the disk. non: both leave it for later (for
// PostgreSQL a crash of its server may then lose the last commits).
enum class SurDisque { defaut, oui, non };

// "sqlite:/path/file.db" or a libpq conninfo ("host=… dbname=…", "postgresql://…").
// lecture_seule opens SQLite without creating or writing anything. Empty on failure, with
// the reason in erreur.
std::unique_ptr<Base> ouvrir_base(const std::string& url, bool lecture_seule, std::string& erreur,
                                  SurDisque disque = SurDisque::defaut);

std::unique_ptr<Base> ouvrir_sqlite(const std::string& chemin, bool lecture_seule, SurDisque disque,
                                    std::string& erreur);
std::unique_ptr<Base> ouvrir_postgres(const std::string& conninfo, SurDisque disque, std::string& erreur);

// Turns a text column into a number, 0 when NULL or malformed.
int64_t entier(const std::optional<std::string>& texte);

}  // namespace vimba::service
