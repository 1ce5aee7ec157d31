// Round trip through the real request folder: vimba-agent against an instant in-process
// responder (the baseline: same files, same client, no poll period). Then the agent's CPU
// while idle.   aller_retour VIMBA_AGENT [DEMANDES] [SECONDES_AU_REPOS]
#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using horloge = std::chrono::steady_clock;
extern char** environ;

namespace {

std::string lire(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// One request like vimba-demande sends it; returns the round trip in ms, or -1.
double allerRetour(const fs::path& dossier, int ino, int n) {
    char id[32];
    std::snprintf(id, sizeof id, "%012d", n);
    const auto debut = horloge::now();
    {
        std::ofstream(dossier / ("demande-" + std::string(id) + ".tmp")) << "etat";
    }
    fs::rename(dossier / ("demande-" + std::string(id) + ".tmp"), dossier / ("demande-" + std::string(id)));
    const fs::path reponse = dossier / ("reponse-" + std::string(id));
    while (horloge::now() - debut < std::chrono::seconds(5)) {
        pollfd p{ino, POLLIN, 0};
        ::poll(&p, 1, 20);
        char tampon[4096];
        while (::read(ino, tampon, sizeof tampon) > 0) {
        }
        if (fs::exists(reponse) && !lire(reponse).empty()) {
            const double ms = std::chrono::duration<double, std::milli>(horloge::now() - debut).count();
            fs::remove(reponse);
            return ms;
        }
    }
    return -1;
}

struct Mesure {
    double p50, p99;
    int perdues;
};

Mesure serie(const fs::path& dossier, int demandes) {
    const int ino = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(ino, dossier.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    std::vector<double> t;
    int perdues = 0;
    for (int i = 0; i < demandes; ++i) {
        const double ms = allerRetour(dossier, ino, i);
        if (ms < 0)
            ++perdues;
        else
            t.push_back(ms);
    }
    ::close(ino);
    std::sort(t.begin(), t.end());
    if (t.empty()) return {0, 0, perdues};
    return {t[t.size() / 2], t[std::min(t.size() - 1, t.size() * 99 / 100)], perdues};
}

// Answers each request the moment it appears: the best a file channel can do.
void repondeurInstantane(const fs::path& dossier, std::atomic<bool>& fin) {
    const int ino = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(ino, dossier.c_str(), IN_MOVED_TO);
    while (!fin) {
        pollfd p{ino, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        alignas(inotify_event) char tampon[4096];
        const ssize_t n = ::read(ino, tampon, sizeof tampon);
        for (ssize_t k = 0; k < n;) {
            const auto* e = reinterpret_cast<inotify_event*>(tampon + k);
            const std::string nom = e->len ? e->name : "";
            k += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (nom.rfind("demande-", 0) != 0) continue;
            fs::remove(dossier / nom);
            const fs::path tmp = dossier / ".r";
            std::ofstream(tmp) << "ok ecran=1 agir=1 devant=?";
            fs::rename(tmp, dossier / ("reponse-" + nom.substr(8)));
        }
    }
    ::close(ino);
}

double cpuSecondes(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), {});
    const auto fin = s.rfind(')');
    std::vector<std::string> champs;
    std::string c;
    for (char ch : s.substr(fin + 2)) {
        if (ch == ' ') {
            champs.push_back(c);
            c.clear();
        } else {
            c += ch;
        }
    }
    return (std::stod(champs[11]) + std::stod(champs[12])) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

// The floor for idle CPU: a bare GLib loop woken by the same 12 ms timer.
int minuteurNu() {
    g_timeout_add(12, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}

double cpuAuRepos(char* const args[], int repos) {
    pid_t pid;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args, environ) != 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double avant = cpuSecondes(pid);
    std::this_thread::sleep_for(std::chrono::seconds(repos));
    const double cpu = (cpuSecondes(pid) - avant) / repos * 100;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return cpu;
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--minuteur-nu") == 0) return minuteurNu();
    if (argc < 2) {
        std::fprintf(stderr, "usage: aller_retour VIMBA_AGENT [DEMANDES] [SECONDES_AU_REPOS]\n");
        return 2;
    }
    const int demandes = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int repos = argc > 3 ? std::atoi(argv[3]) : 60;

    char m1[] = "/tmp/bench-vimba-XXXXXX";
    const fs::path base = ::mkdtemp(m1);
    std::atomic<bool> fin{false};
    std::thread repondeur(repondeurInstantane, base, std::ref(fin));
    const Mesure ref = serie(base, demandes);
    fin = true;
    repondeur.join();

    char m2[] = "/tmp/bench-vimba-XXXXXX";
    const fs::path dossier = ::mkdtemp(m2);
    std::string dossierArg = dossier.string();
    char* args[] = {argv[1], const_cast<char*>("--dossier"), dossierArg.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, argv[1], nullptr, nullptr, args, environ) != 0) {
        std::perror("posix_spawn");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Mesure agent = serie(dossier, demandes);

    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    const double cpu = cpuAuRepos(args, repos);
    char* nu[] = {const_cast<char*>("/proc/self/exe"), const_cast<char*>("--minuteur-nu"), nullptr};
    std::string moi = fs::read_symlink("/proc/self/exe").string();
    nu[0] = moi.data();
    const double cpuNu = cpuAuRepos(nu, repos);
    fs::remove_all(base);
    fs::remove_all(dossier);

    std::printf("round trip over %d 'etat' requests, one after another\n", demandes);
    std::printf("%-28s %9s %9s %8s\n", "", "p50 ms", "p99 ms", "lost");
    std::printf("%-28s %9.2f %9.2f %8d\n", "instant responder (base)", ref.p50, ref.p99, ref.perdues);
    std::printf("%-28s %9.2f %9.2f %8d\n", "vimba-agent", agent.p50, agent.p99, agent.perdues);
    std::printf("%-28s %9.1fx %8.1fx\n", "ratio agent / base", agent.p50 / ref.p50, agent.p99 / ref.p99);
    std::printf("goals: p50 <= 8 ms, p99 <= 14 ms\n");
    std::printf("idle CPU over %d s, %% of one core: bare 12 ms GLib timer (base) %.3f, vimba-agent %.3f, ratio %.1fx (goal <= 0.5 %%)\n",
                repos, cpuNu, cpu, cpuNu > 0 ? cpu / cpuNu : 0.0);
    return 0;
}
