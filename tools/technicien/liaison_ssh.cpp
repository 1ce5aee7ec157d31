#include "tools/technicien/liaison_ssh.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tools/technicien/processus.h"

namespace vimba::technicien {

namespace {

const char* const aliasRelais = "vimba-relais";
const char* const aliasOrdinateur = "vimba-ordinateur";

std::string configSsh(const Session& s) { return s.execution + "/ssh.conf"; }
std::string socketControle(const Session& s) { return s.execution + "/c"; }
std::string journal(const Session& s) { return s.execution + "/ssh.log"; }

// "type base64" without the comment: what a known_hosts line needs.
std::string typeEtCorps(const std::string& cle) {
    std::istringstream mots(cle);
    std::string type, corps;
    mots >> type >> corps;
    return type + " " + corps;
}

bool dossierAMoi(const std::string& chemin) {
    struct stat st {};
    return !chemin.empty() && ::lstat(chemin.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

// The control socket's path must fit a sockaddr_un, so the folder is short and in /tmp
// (or the runtime folder) rather than beside the configuration.
bool preparerDossier(Session& s, std::string& erreur) {
    if (dossierAMoi(s.execution)) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && runtime[0] == '/' && std::strlen(runtime) < 48 ? runtime : "/tmp";
    std::string modele = base + "/vimba-technicien-XXXXXX";
    if (!::mkdtemp(modele.data())) {
        erreur = "impossible de créer un dossier privé dans " + base + " : " + std::strerror(errno);
        return false;
    }
    s.execution = modele;
    return true;
}

std::string configuration(const Session& s, const std::string& cle) {
    std::ostringstream c;
    c << "Host " << aliasRelais << "\n"
      << "  HostName " << s.relais.hote << "\n"
      << "  Port " << s.relais.port << "\n"
      << "  User " << s.relais.compte << "\n"
      << "  HostKeyAlias " << aliasRelais << "\n"
      << "Host " << aliasOrdinateur << "\n"
      << "  HostName 127.0.0.1\n"
      << "  Port " << s.ordinateur.portTunnel << "\n"
      << "  User " << s.ordinateur.compte << "\n"
      << "  HostKeyAlias " << aliasOrdinateur << "\n"
      << "  ProxyJump " << aliasRelais << "\n"
      << "  ControlPath " << socketControle(s) << "\n"
      << "  ServerAliveInterval 15\n"
      << "  ServerAliveCountMax 3\n"
      // Whatever the technician's own files say, only this key, only these pinned hosts, never a prompt.
      << "Host *\n"
      << "  IdentityFile " << cle << "\n"
      << "  IdentitiesOnly yes\n"
      << "  IdentityAgent none\n"
      << "  BatchMode yes\n"
      << "  PasswordAuthentication no\n"
      << "  KbdInteractiveAuthentication no\n"
      << "  StrictHostKeyChecking yes\n"
      << "  UserKnownHostsFile " << s.execution << "/hotes\n"
      << "  GlobalKnownHostsFile /dev/null\n"
      << "  CheckHostIP no\n"
      << "  UpdateHostKeys no\n"
      << "  ForwardAgent no\n"
      << "  ForwardX11 no\n"
      << "  RequestTTY no\n"
      << "  EscapeChar none\n"
      << "  ControlMaster no\n"
      << "  ConnectTimeout 15\n"
      << "  LogLevel ERROR\n";
    return c.str();
}

std::vector<std::string> ssh(const Session& s) { return {"ssh", "-F", configSsh(s)}; }

std::string contient(const std::string& texte, std::initializer_list<const char*> motifs) {
    std::istringstream lignes(texte);
    std::string ligne;
    while (std::getline(lignes, ligne))
        for (const char* m : motifs)
            if (ligne.find(m) != std::string::npos) return ligne;
    return {};
}

// OpenSSH's own messages, for the relay's hop and the computer's, in the technician's
// words; empty when none is recognised.
std::string expliquer(const Session& s, const std::string& log) {
    const std::string relais = s.relais.hote + ":" + std::to_string(s.relais.port);
    if (!contient(log, {"Host key verification failed", "IDENTIFICATION HAS CHANGED", "host key is known"}).empty()) {
        if (!contient(log, {aliasOrdinateur}).empty()) return "la clé d’hôte de l’ordinateur ne correspond pas à celle que le service a donnée";
        return "la clé d’hôte du relais " + relais + " ne correspond pas à celle que le service a donnée";
    }
    if (auto l = contient(log, {"Permission denied"}); !l.empty()) {
        if (l.rfind(s.relais.compte + "@", 0) == 0)
            return "relais refusé : le relais " + relais + " n’accepte pas la clé du technicien pour cette session (fermée ?)";
        return "l’ordinateur refuse la clé du technicien";
    }
    if (!contient(log, {"administratively prohibited"}).empty())
        return "relais refusé : le relais ne laisse pas passer vers l’ordinateur (session fermée ?)";
    if (!contient(log, {"connect failed"}).empty()) return "l’ordinateur ne répond pas au bout du tunnel (fermé de son côté ?)";
    if (!contient(log, {"Could not resolve hostname"}).empty()) return "nom du relais inconnu : " + s.relais.hote;
    if (!contient(log, {"Connection refused"}).empty()) return "le relais " + relais + " refuse la connexion";
    if (!contient(log, {"timed out"}).empty()) return "le relais " + relais + " ne répond pas";
    return {};
}

std::string derniereLigne(const std::string& texte) {
    std::string derniere;
    std::istringstream lignes(texte);
    for (std::string l; std::getline(lignes, l);)
        if (!l.empty()) derniere = l;
    return derniere;
}

}  // namespace

LiaisonSsh::LiaisonSsh(std::string clePrivee) : clePrivee_(std::move(clePrivee)) {}

bool LiaisonSsh::ouverte(const Session& s) {
    if (s.execution.empty()) return false;
    const std::string chemin = socketControle(s);
    sockaddr_un a{};
    if (chemin.size() >= sizeof a.sun_path) return false;
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, chemin.c_str(), chemin.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

bool LiaisonSsh::ouvrir(Session& s, std::string& erreur) {
    if (!preparerDossier(s, erreur)) return false;
    const std::string hotes = std::string(aliasRelais) + " " + typeEtCorps(s.relais.cleHote) + "\n" + aliasOrdinateur + " " +
                              typeEtCorps(s.ordinateur.cleHote) + "\n";
    if (!ecrireFichier(s.execution + "/hotes", hotes, 0600) || !ecrireFichier(configSsh(s), configuration(s, clePrivee_), 0600)) {
        erreur = "impossible d’écrire la configuration SSH dans " + s.execution;
        return false;
    }
    if (ouverte(s)) return true;
    ::unlink(socketControle(s).c_str());
    const int log = ::open(journal(s).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    auto argv = ssh(s);
    // -f returns once authenticated; the master then lives on alone until "-O exit".
    argv.insert(argv.end(), {"-M", "-N", "-f", "-o", "ControlPersist=yes", aliasOrdinateur});
    const pid_t pid = lancer(argv, -1, -1, log);
    if (log >= 0) ::close(log);
    if (pid < 0) {
        erreur = "ssh introuvable : installez openssh-client";
        return false;
    }
    const int code = attendreFin(pid, 60);
    if (code == 0 && ouverte(s)) return true;
    std::ifstream f(journal(s));
    std::stringstream contenu;
    contenu << f.rdbuf();
    erreur = expliquer(s, contenu.str());
    if (erreur.empty()) {
        // A persisting master silences its jump's errors: the relay's hop alone tells why.
        auto essai = ssh(s);
        essai.insert(essai.end(), {"-W", "127.0.0.1:" + std::to_string(s.ordinateur.portTunnel), aliasRelais});
        erreur = expliquer(s, technicien::executer(essai, {}, 30).erreurs);
    }
    if (erreur.empty())
        erreur = code == -1 ? "connexion SSH à l’ordinateur trop longue (plus de 60 s)"
                            : "connexion SSH à l’ordinateur impossible : " + derniereLigne(contenu.str());
    return false;
}

Liaison::Resultat LiaisonSsh::executer(const Session& s, const std::string& commande, const std::string& entree) {
    auto argv = ssh(s);
    argv.insert(argv.end(), {aliasOrdinateur, commande});
    const Sortie sortie = technicien::executer(argv, entree, 300);
    Resultat r;
    r.statut = sortie.statut == 255 ? -1 : sortie.statut;
    r.sortie = sortie.sortie;
    r.erreur = sortie.erreurs;
    if (r.statut == -1) {
        r.erreur = expliquer(s, sortie.erreurs);
        if (r.erreur.empty())
            r.erreur = sortie.erreurs.empty() ? "pas de réponse de l’ordinateur" : "liaison avec l’ordinateur coupée : " + derniereLigne(sortie.erreurs);
    }
    return r;
}

pid_t LiaisonSsh::brancher(const Session& s, const std::string& commande, int fd) {
    auto argv = ssh(s);
    argv.insert(argv.end(), {aliasOrdinateur, commande});
    return lancer(argv, fd, fd, -1);
}

void LiaisonSsh::fermer(Session& s) {
    if (!dossierAMoi(s.execution)) return;
    if (ouverte(s)) {
        auto argv = ssh(s);
        argv.insert(argv.end(), {"-O", "exit", aliasOrdinateur});
        technicien::executer(argv, {}, 15);
    }
    for (const char* nom : {"/ssh.conf", "/hotes", "/ssh.log", "/c"}) ::unlink((s.execution + nom).c_str());
    ::rmdir(s.execution.c_str());
    s.execution.clear();
}

}  // namespace vimba::technicien
