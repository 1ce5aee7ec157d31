#include "app/lanceur.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

extern char** environ;

namespace vimba {
namespace {

const char* const lancementImpossible = "lancement impossible";
const char* const annule = "-128 User canceled";

struct Sortie {
    bool demarre = false;
    int statut = -1;
    std::string out, err;
};

// Closes a descriptor on scope exit.
struct Fd {
    int fd = -1;
    ~Fd() { fermer(); }
    void fermer() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

// Spawns argv with both pipes read together, so a chatty standard error cannot stall it.
Sortie executer(const std::vector<std::string>& argv) {
    Sortie s;
    int po[2], pe[2];
    if (pipe2(po, O_CLOEXEC) != 0) return s;
    Fd or_{po[0]}, ow{po[1]};
    if (pipe2(pe, O_CLOEXEC) != 0) return s;
    Fd er{pe[0]}, ew{pe[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ow.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, ew.fd, 2);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ow.fermer();
    ew.fermer();
    if (rc != 0) return s;
    s.demarre = true;

    std::array<pollfd, 2> fds{pollfd{or_.fd, POLLIN, 0}, pollfd{er.fd, POLLIN, 0}};
    std::array<std::string*, 2> dest{&s.out, &s.err};
    int ouverts = 2;
    char tampon[65536];
    while (ouverts > 0) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, tampon, sizeof tampon);
            if (n > 0) {
                dest[i]->append(tampon, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --ouverts;
            }
        }
    }
    int statut = 0;
    while (waitpid(pid, &statut, 0) < 0 && errno == EINTR) {
    }
    s.statut = WIFEXITED(statut) ? WEXITSTATUS(statut) : 128 + WTERMSIG(statut);
    // posix_spawnp reports a missing program only through the child's exit 127.
    return s;
}

std::string utf8(const std::string& t) {
    return g_utf8_validate(t.data(), gssize(t.size()), nullptr) ? t : std::string();
}

bool contient(const std::string& t, const char* mot) { return t.find(mot) != std::string::npos; }

// pkexec exits 126 when the dialog is dismissed and 127 when authentication fails, but the
// script it runs can exit with either too: only pkexec's own line says it was the user.
bool refusParPkexec(const std::string& err) {
    const std::string prefixe = "Error executing command as another user: ";
    size_t debut = 0;
    while (debut < err.size()) {
        size_t fin = err.find('\n', debut);
        if (fin == std::string::npos) fin = err.size();
        std::string ligne = rogner(err.substr(debut, fin - debut));
        if (ligne == prefixe + "Request dismissed" || ligne == prefixe + "Not authorized") return true;
        debut = fin + 1;
    }
    return false;
}

std::string cheminDuProgramme() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// The script's path with no link or dot left, or empty when it does not resolve.
std::string cheminReel(const std::string& chemin) {
    std::unique_ptr<char, decltype(&free)> reel(realpath(chemin.c_str(), nullptr), &free);
    return reel ? std::string(reel.get()) : std::string();
}

std::string pasSansRisque(const std::string& chemin, const char* pourquoi) {
    return "Le dépannage ne peut pas demander les droits d’administrateur sans risque : « " + chemin +
           " » " + pourquoi +
           ". Installez Dépannage Vimba depuis son paquet, ou lancez-le depuis un dossier qui "
           "appartient à l’administrateur.";
}

// `reel` is `script` resolved once: the caller runs that very path.
std::string risqueDuChemin(const std::string& script, const std::string& reel, uid_t administrateur) {
    if (reel.empty())
        return "Le programme de la session est introuvable (« " + script +
               " ») : le dépannage ne peut pas obtenir les droits d’administrateur.";
    auto sur = [&](uid_t u) { return u == 0 || u == administrateur; };
    struct stat st;
    if (lstat(reel.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return pasSansRisque(reel, "n’est pas un fichier ordinaire");
    // Group bits hold an ACL's mask, so a write grant to anyone shows there too.
    for (std::string chemin = reel;;) {
        if (!sur(st.st_uid)) return pasSansRisque(chemin, "appartient à un autre compte que l’administrateur");
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)))
            return pasSansRisque(chemin, "peut être modifié par d’autres comptes");
        if (chemin == "/") return {};
        auto barre = chemin.rfind('/');
        chemin = barre == 0 ? "/" : chemin.substr(0, barre);
        if (lstat(chemin.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return pasSansRisque(chemin, "n’est pas un dossier ordinaire");
    }
}

}  // namespace

std::string risqueAdministrateur(const std::string& script, uid_t administrateur) {
    return risqueDuChemin(script, cheminReel(script), administrateur);
}

std::string rogner(const std::string& texte) {
    const char* blancs = " \t\n\r\v\f";
    auto debut = texte.find_first_not_of(blancs);
    if (debut == std::string::npos) return {};
    return texte.substr(debut, texte.find_last_not_of(blancs) - debut + 1);
}

const std::string& ressources() {
    static const std::string dossier = [] {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path exe = cheminDuProgramme();
        fs::path installe = exe.parent_path().parent_path() / "share" / "depannage-vimba";
        if (fs::exists(installe / "interface.html", ec)) return installe.string();
        return std::string(VIMBA_RESSOURCES_SOURCE);
    }();
    return dossier;
}

const std::string& scriptSession() {
    static const std::string chemin = ressources() + "/session.sh";
    return chemin;
}

Resultat lancer(const std::vector<std::string>& arguments, bool admin) {
    return lancerAvec(Programmes{scriptSession()}, arguments, admin);
}

Resultat lancerAvec(const Programmes& p, const std::vector<std::string>& arguments, bool admin) {
    if (!admin) {
        std::vector<std::string> argv{p.shell, p.script};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        if (access(p.shell.c_str(), X_OK) != 0) return {false, lancementImpossible};
        Sortie s = executer(argv);
        if (!s.demarre) return {false, lancementImpossible};
        return {s.statut == 0, rogner(utf8(s.statut == 0 ? s.out : s.err))};
    }
    // Root runs whatever file sits at that path: only one nobody else can change, by the
    // resolved path, so no link swapped after the check is followed.
    std::string reel = cheminReel(p.script);
    if (auto risque = risqueDuChemin(p.script, reel, p.administrateur); !risque.empty()) return {false, risque};
    // pkexec runs the script itself (its first line names bash), so the shipped polkit
    // action, bound to the installed script's path, supplies the French prompt.
    std::vector<std::string> argv{p.pkexec, reel};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Sortie s = executer(argv);
    if (!s.demarre) return {false, lancementImpossible};
    if (s.statut == 0) return {true, rogner(utf8(s.out))};
    std::string err = utf8(s.err);
    if (contient(err, "No authentication agent"))
        return {false,
                "Aucun agent d’authentification ne tourne dans cette session : le système ne peut "
                "pas vous demander votre mot de passe. Ouvrez une session de bureau complète, puis "
                "réessayez."};
    if (contient(err, "Error getting authority"))
        return {false,
                "Le service d’autorisation du système (polkit) ne répond pas : le dépannage ne peut "
                "pas obtenir les droits d’administrateur."};
    if ((s.statut == 126 || s.statut == 127) && refusParPkexec(err)) return {false, annule};
    if (!err.empty()) return {false, err};
    return {false, "échec"};
}

std::string enClair(const std::string& echec) {
    if (contient(echec, "code refusé"))
        return "Ce code n’est pas valable, ou il a déjà servi. Demandez-en un nouveau à Ilvo.";
    if (contient(echec, "outil introuvable"))
        return "Le téléchargement du programme de connexion n’a pas abouti. Vérifiez votre "
               "internet, puis réessayez.";
    if (contient(echec, "tunnel muet"))
        return "La connexion sécurisée ne s’est pas établie. Si vous êtes sur le réseau d’un "
               "bureau ou d’une résidence, il se peut qu’il la bloque.";
    if (contient(echec, "serveur"))
        return "Le serveur n’a pas répondu. Vérifiez que votre internet fonctionne.";
    if (contient(echec, "-128") || contient(echec, "User canceled"))
        return "Le dépannage n’a pas été autorisé sur cet ordinateur.";
    if (echec.empty()) return "Une étape n’a pas abouti.";
    return echec;
}

}  // namespace vimba
