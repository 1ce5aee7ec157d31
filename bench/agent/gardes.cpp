// Cost of the guards' questions on the main thread, with a real accessible window in front:
// the password-field check typing asks every 0.1 s, and the front check a running stream
// makes every 0.1 s, each printed as its share of that 0.1 s and against the bare question
// of the front window's name, the baseline every request already paid; and the look at
// which window is in front, asked on each 12 ms tick while a stream runs.
// Usage (inside scripts/avec-bureau.sh, a window manager running):
//   bench_gardes APPLI_ESSAI [FOIS]
#include <glib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agent/agent.h"
#include "agent/fabrique.h"
#include "agent/sensibles.h"

namespace {

template <class F>
double msParAppel(int fois, F f) {
    const auto debut = std::chrono::steady_clock::now();
    for (int i = 0; i < fois; ++i) f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - debut).count() / fois;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_gardes APPLI_ESSAI [FOIS]\n");
        return 2;
    }
    const int fois = argc > 2 ? std::atoi(argv[2]) : 200;
    gchar* etat = g_dir_make_tmp("banc-gardes-XXXXXX", nullptr);
    const std::string appli = argv[1];
    const char* args[] = {appli.c_str(), "--etat", etat, "--focus", "entree", nullptr};
    GPid pid = 0;
    if (!g_spawn_async(nullptr, const_cast<gchar**>(args), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &pid, nullptr)) return 1;
    const std::string pret = std::string(etat) + "/pret";
    for (int i = 0; i < 100 && !g_file_test(pret.c_str(), G_FILE_TEST_EXISTS); ++i) g_usleep(50000);
    g_usleep(500000);

    auto gardes = vimba::creerGardes();
    const auto& liste = vimba::applicationsInterdites();
    const double nom = msParAppel(fois, [&] { (void)gardes->appDevant(); });
    const double champ = msParAppel(fois, [&] { (void)gardes->champSecurise(); });
    const double cle = msParAppel(fois, [&] { (void)gardes->cleDevant(); });
    const double front = msParAppel(fois, [&] {
        (void)gardes->cleDevant();
        const auto n = gardes->appDevant();
        const auto t = gardes->titreDevant();
        (void)(n && vimba::entreeSensible(*n, liste));
        (void)(t && vimba::entreeSensible(*t, liste));
    });
    std::printf("devant : « %s », %d appels\n", gardes->appDevant().value_or("?").c_str(), fois);
    std::printf("nom de l’application devant (référence) : %.2f ms\n", nom);
    std::printf("champ de mot de passe ? %.2f ms, rapport %.2f, part de 0,1 s pendant une saisie %.1f %%\n", champ,
                champ / nom, champ);
    std::printf("contrôle du flux (fenêtre, nom, titre, liste) %.2f ms, rapport %.2f, part de 0,1 s %.1f %%\n", front,
                front / nom, front);
    std::printf("fenêtre devant seule, à chaque tour de 12 ms pendant un flux : %.3f ms, rapport %.3f, part %.1f %%\n", cle,
                cle / nom, 100 * cle / 12);
    kill(pid, SIGTERM);
    g_spawn_close_pid(pid);
    return 0;
}
