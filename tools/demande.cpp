// vimba-demande: the technician's end of the command channel. Drops one request into the
// folder, waits for its reply, prints it and removes it.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: vimba-demande [--attente SECONDES] [--dossier DOSSIER] ['DEMANDE']\n"
                         "       sans DEMANDE, le texte est lu sur l’entrée standard\n");
    return 2;
}

// Fixed-width time stamp then process id: sorts after every earlier request, never clashes.
std::string identifiant() {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    char id[64];
    std::snprintf(id, sizeof id, "%020lld-%010d", static_cast<long long>(ns), static_cast<int>(::getpid()));
    return id;
}

bool ecrireTout(int fd, const std::string& s) {
    std::size_t fait = 0;
    while (fait < s.size()) {
        const ssize_t n = ::write(fd, s.data() + fait, s.size() - fait);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        fait += static_cast<std::size_t>(n);
    }
    return true;
}

bool lireTout(const std::string& chemin, std::string& contenu) {
    const int fd = ::open(chemin.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    contenu.clear();
    char tampon[65536];
    ssize_t n;
    while ((n = ::read(fd, tampon, sizeof tampon)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        contenu.append(tampon, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dossier = "/tmp/vimba-sos";
    double attente = 10;
    std::string demande;
    bool donnee = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--attente" && i + 1 < argc) {
            char* fin = nullptr;
            attente = std::strtod(argv[++i], &fin);
            if (*fin || !(attente >= 0)) return usage();
        } else if (a == "--dossier" && i + 1 < argc) {
            dossier = argv[++i];
        } else if (a == "--help" || a == "-h" || donnee) {
            return usage();
        } else {
            demande = a;
            donnee = true;
        }
    }
    if (!donnee) demande.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());

    struct stat st {};
    if (::stat(dossier.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "vimba-demande : le dossier %s n’existe pas (aucune session ouverte ?)\n", dossier.c_str());
        return 2;
    }

    const std::string id = identifiant();
    const std::string temporaire = dossier + "/demande-" + id + ".tmp";
    const std::string finale = dossier + "/demande-" + id;
    const std::string reponse = dossier + "/reponse-" + id;

    // Watch before the request appears, so the reply cannot slip past.
    const int ino = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (ino >= 0) ::inotify_add_watch(ino, dossier.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);

    const int fd = ::open(temporaire.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || !ecrireTout(fd, demande) || ::close(fd) != 0 || ::rename(temporaire.c_str(), finale.c_str()) != 0) {
        std::fprintf(stderr, "vimba-demande : impossible d’écrire la demande dans %s : %s\n", dossier.c_str(), std::strerror(errno));
        ::unlink(temporaire.c_str());
        return 2;
    }

    const auto limite = std::chrono::steady_clock::now() + std::chrono::duration<double>(attente);
    std::string texte;
    for (;;) {
        if (lireTout(reponse, texte)) break;
        const auto reste = std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now()).count();
        if (reste <= 0) {
            // Take the request back if nobody took it, so it does not run later by surprise.
            ::unlink(finale.c_str());
            std::fprintf(stderr, "vimba-demande : pas de réponse après %g s (l’agent tourne-t-il ?)\n", attente);
            return 2;
        }
        if (ino >= 0) {
            pollfd p{ino, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(std::min<long long>(reste, 50)));
            char evenements[4096];
            while (::read(ino, evenements, sizeof evenements) > 0) {
            }
        } else {
            ::usleep(2000);
        }
    }
    ::unlink(reponse.c_str());
    std::fwrite(texte.data(), 1, texte.size(), stdout);
    // The reply exactly; a line feed after it only for a person at a terminal.
    if (::isatty(STDOUT_FILENO)) std::fputc('\n', stdout);
    if (texte.rfind("ok ", 0) == 0) return 0;
    return 1;
}
