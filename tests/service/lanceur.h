#pragma once
// Real processes for the service's tests and benchmark: a vimba-service on loopback, and a
// private PostgreSQL server in a temporary folder (as the postgres account when root).
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace essais {

namespace fs = std::filesystem;

// Runs argv, output to journal; 127 when it cannot start.
inline pid_t demarrer(const std::vector<std::string>& argv, const std::string& journal,
                      uid_t compte = uid_t(-1)) {
  pid_t p = fork();
  if (p == 0) {
    int f = open(journal.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (f >= 0) {
      dup2(f, 1);
      dup2(f, 2);
    }
    if (compte != uid_t(-1)) {
      struct passwd* pw = getpwuid(compte);
      if (!pw || setgid(pw->pw_gid) != 0 || setuid(compte) != 0) _exit(127);
    }
    std::vector<char*> a;
    for (auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    execv(a[0], a.data());
    _exit(127);
  }
  return p;
}

inline int attendre_fin(pid_t p) {
  int statut = 0;
  if (waitpid(p, &statut, 0) != p) return -1;
  return WIFEXITED(statut) ? WEXITSTATUS(statut) : 128 + WTERMSIG(statut);
}

inline int executer(const std::vector<std::string>& argv, const std::string& journal,
                    uid_t compte = uid_t(-1)) {
  return attendre_fin(demarrer(argv, journal, compte));
}

inline std::string lire_fichier(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh folder, removed with everything in it.
struct Dossier {
  fs::path chemin;
  Dossier() {
    std::string modele = (fs::temp_directory_path() / "vimba-essai-XXXXXX").string();
    chemin = mkdtemp(modele.data());
  }
  ~Dossier() {
    std::error_code e;
    fs::remove_all(chemin, e);
  }
};

// One vimba-service servir; address() once it listens. Stopped when destroyed.
class ServiceLance {
 public:
  // prefixe runs before the binary, e.g. {"/usr/bin/taskset", "-c", "0"}.
  ServiceLance(const std::string& binaire, const fs::path& dossier, std::map<std::string, std::string> cles,
               std::vector<std::string> prefixe = {})
      : binaire_(binaire), dossier_(dossier), cles_(std::move(cles)), prefixe_(std::move(prefixe)) {}
  ~ServiceLance() { arreter(SIGTERM); }

  // False when it did not announce an address within 10 s.
  bool demarrer() {
    static int numero = 0;
    annonce_ = dossier_ / ("annonce-" + std::to_string(getpid()) + "-" + std::to_string(++numero));
    std::vector<std::string> argv = prefixe_;
    for (std::string a : {binaire_, std::string("servir"), std::string("--annonce"), annonce_.string()}) argv.push_back(a);
    for (auto& [c, v] : cles_) {
      argv.push_back("--" + c);
      argv.push_back(v);
    }
    pid_ = essais::demarrer(argv, (dossier_ / "service.log").string());
    for (int i = 0; i < 1000; ++i) {
      std::string a = lire_fichier(annonce_);
      if (!a.empty() && a.back() == '\n') {
        adresse_ = a.substr(0, a.size() - 1);
        return true;
      }
      int statut;
      if (waitpid(pid_, &statut, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  int arreter(int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    int r = attendre_fin(pid_);
    pid_ = -1;
    return r;
  }

  const std::string& adresse() const { return adresse_; }
  std::string journal() const { return lire_fichier(dossier_ / "service.log"); }

 private:
  std::string binaire_;
  fs::path dossier_, annonce_;
  std::map<std::string, std::string> cles_;
  std::vector<std::string> prefixe_;
  pid_t pid_ = -1;
  std::string adresse_;
};

// A PostgreSQL server of its own, on a unix socket in its folder, gone when destroyed.
class PostgresTemp {
 public:
  PostgresTemp() {
    const std::string bin = "/usr/lib/postgresql/15/bin/";
    if (access((bin + "initdb").c_str(), X_OK) != 0) {
      erreur_ = "PostgreSQL 15 absent";
      return;
    }
    uid_t compte = uid_t(-1);
    if (geteuid() == 0) {
      // initdb refuses root: the postgres account runs the server.
      struct passwd* pw = getpwnam("postgres");
      if (!pw) {
        erreur_ = "compte postgres absent";
        return;
      }
      compte = pw->pw_uid;
      if (chown(dossier_.chemin.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
        erreur_ = "chown";
        return;
      }
    }
    compte_ = compte;
    const std::string d = dossier_.chemin.string(), journal = d + "/pg.log";
    if (executer({bin + "initdb", "-D", d + "/data", "-A", "trust", "-U", "postgres", "-E", "UTF8",
                  "--no-sync", "--no-instructions"}, journal, compte) != 0) {
      erreur_ = "initdb : " + lire_fichier(journal);
      return;
    }
    if (executer({bin + "pg_ctl", "-D", d + "/data", "-l", d + "/serveur.log", "-w", "-o",
                  "-k " + d + " -c listen_addresses='' -p 5432 -c max_connections=60", "start"},
                 journal, compte) != 0) {
      erreur_ = "pg_ctl : " + lire_fichier(d + "/serveur.log");
      return;
    }
    demarre_ = true;
  }
  ~PostgresTemp() {
    if (demarre_)
      executer({"/usr/lib/postgresql/15/bin/pg_ctl", "-D", dossier_.chemin.string() + "/data", "-m", "immediate", "-w", "stop"},
               dossier_.chemin.string() + "/pg.log", compte_);
  }

  bool pret() const { return demarre_; }
  const std::string& erreur() const { return erreur_; }
  // A database of its own per caller, so tests do not see each other's rows.
  std::string base(const std::string& nom) {
    std::string psql = "/usr/bin/psql";
    executer({psql, "-h", dossier_.chemin.string(), "-p", "5432", "-U", "postgres", "-q", "-c",
              "CREATE DATABASE " + nom}, dossier_.chemin.string() + "/pg.log");
    return "host=" + dossier_.chemin.string() + " port=5432 user=postgres dbname=" + nom;
  }

 private:
  Dossier dossier_;
  uid_t compte_ = uid_t(-1);
  bool demarre_ = false;
  std::string erreur_;
};

}  // namespace essais
