#include "tools/technicien/processus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>

extern char** environ;

namespace vimba::technicien {

namespace {

using Horloge = std::chrono::steady_clock;

int resteMs(Horloge::time_point limite, bool illimite) {
    if (illimite) return -1;
    const auto r = std::chrono::duration_cast<std::chrono::milliseconds>(limite - Horloge::now()).count();
    return r > 0 ? static_cast<int>(r) : 0;
}

int codeDeSortie(int etat) { return WIFEXITED(etat) ? WEXITSTATUS(etat) : -1; }

}  // namespace

pid_t lancer(const std::vector<std::string>& argv, int entree, int sortie, int erreurs) {
    if (argv.empty()) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int fds[3] = {entree, sortie, erreurs};
    for (int i = 0; i < 3; ++i) {
        if (fds[i] >= 0) posix_spawn_file_actions_adddup2(&actions, fds[i], i);
        else posix_spawn_file_actions_addopen(&actions, i, "/dev/null", i == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    // The child starts with default signal handling, whatever this process ignores.
    posix_spawnattr_t attributs;
    posix_spawnattr_init(&attributs);
    sigset_t defaut;
    sigemptyset(&defaut);
    sigaddset(&defaut, SIGPIPE);
    sigaddset(&defaut, SIGINT);
    sigaddset(&defaut, SIGTERM);
    posix_spawnattr_setsigdefault(&attributs, &defaut);
    posix_spawnattr_setflags(&attributs, POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int r = ::posix_spawnp(&pid, args[0], &actions, &attributs, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributs);
    return r == 0 ? pid : -1;
}

int attendreFin(pid_t pid, double limite) {
    if (pid <= 0) return -1;
    const bool illimite = limite <= 0;
    const auto fin = Horloge::now() + std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(limite));
    int etat = 0;
    // Woken by the child's end itself rather than by polling: a request's round trip is
    // counted in milliseconds.
    const int pidfd = illimite ? -1 : static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        const pid_t r = ::waitpid(pid, &etat, illimite ? 0 : WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) {
            if (pidfd >= 0) ::close(pidfd);
            return -1;
        }
        if (!illimite && Horloge::now() >= fin) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &etat, 0);
            if (pidfd >= 0) ::close(pidfd);
            return -1;
        }
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            ::poll(&p, 1, resteMs(fin, false));
        } else if (!illimite) {
            ::usleep(2000);
        }
    }
    if (pidfd >= 0) ::close(pidfd);
    return codeDeSortie(etat);
}

Sortie executer(const std::vector<std::string>& argv, const std::string& entree, double limite) {
    Sortie s;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return s;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]), ::close(in[1]);
        return s;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
        return s;
    }
    const pid_t pid = lancer(argv, in[0], out[1], err[1]);
    ::close(in[0]), ::close(out[1]), ::close(err[1]);
    if (pid < 0) {
        ::close(in[1]), ::close(out[0]), ::close(err[0]);
        s.erreurs = "programme introuvable : " + argv.front();
        return s;
    }
    const bool illimite = limite <= 0;
    const auto fin = Horloge::now() + std::chrono::duration_cast<Horloge::duration>(std::chrono::duration<double>(limite));
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    int fdEntree = in[1];
    std::size_t ecrit = 0;
    if (entree.empty()) ::close(fdEntree), fdEntree = -1;
    int fdSortie = out[0], fdErreurs = err[0];
    bool delaiDepasse = false;
    while (fdSortie >= 0 || fdErreurs >= 0) {
        pollfd p[3] = {{fdEntree, POLLOUT, 0}, {fdSortie, POLLIN, 0}, {fdErreurs, POLLIN, 0}};
        const int r = ::poll(p, 3, resteMs(fin, illimite));
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) {
            delaiDepasse = true;
            break;
        }
        if (fdEntree >= 0 && p[0].revents) {
            const ssize_t n = ::write(fdEntree, entree.data() + ecrit, entree.size() - ecrit);
            if (n > 0) ecrit += static_cast<std::size_t>(n);
            // A program that stops reading early still gets its outputs collected.
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || ecrit == entree.size()) ::close(fdEntree), fdEntree = -1;
        }
        for (int i = 1; i < 3; ++i) {
            int& fd = i == 1 ? fdSortie : fdErreurs;
            if (fd < 0 || !p[i].revents) continue;
            char tampon[65536];
            const ssize_t n = ::read(fd, tampon, sizeof tampon);
            if (n > 0) (i == 1 ? s.sortie : s.erreurs).append(tampon, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN)) ::close(fd), fd = -1;
        }
    }
    for (int fd : {fdEntree, fdSortie, fdErreurs})
        if (fd >= 0) ::close(fd);
    if (delaiDepasse) ::kill(pid, SIGKILL);
    const int code = attendreFin(pid, delaiDepasse ? 0 : (illimite ? 0 : std::max(0.1, limite)));
    s.statut = delaiDepasse ? -1 : code;
    return s;
}

}  // namespace vimba::technicien
