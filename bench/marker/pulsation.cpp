// CPU used by a pulsing target on the real overlay: redrawing only the ring's square against
// redrawing the whole window on every tick, measured in the same process for the agent and
// for the X server. Run inside scripts/avec-bureau.sh (1920×1080); start a compositing
// manager first to measure that case.
#include <dirent.h>
#include <gtk/gtk.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "marker/marqueur.h"

namespace {

double cpuProcessus() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// The X server of $DISPLAY, found by its command line; -1 when it is not on this machine.
int serveurX() {
    const std::string ecran = g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "";
    DIR* d = opendir("/proc");
    int trouve = -1;
    while (dirent* e = d ? readdir(d) : nullptr) {
        std::ifstream f(std::string("/proc/") + e->d_name + "/cmdline", std::ios::binary);
        std::string c((std::istreambuf_iterator<char>(f)), {});
        if (c.rfind("Xvfb", 0) == 0 && c.find(std::string(1, '\0') + ecran + '\0') != std::string::npos) trouve = atoi(e->d_name);
    }
    if (d) closedir(d);
    return trouve;
}

double cpuServeur(int pid) {
    if (pid < 0) return 0;
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), {});
    auto p = s.rfind(')');
    unsigned long ut = 0, st = 0;
    std::sscanf(s.c_str() + p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &ut, &st);
    return double(ut + st) / sysconf(_SC_CLK_TCK);
}

struct Mesure {
    double agent, serveur;
};

Mesure pulser(vimba::FenetreMarqueur& f, vimba::VueMarqueur& v, bool partiel, double secondes, int xpid) {
    struct Etat {
        vimba::FenetreMarqueur* f;
        vimba::VueMarqueur* v;
        bool partiel;
    } e{&f, &v, partiel};
    v.phase = 0;
    guint id = g_timeout_add(1000 / 24, [](gpointer p) {
        auto* e = static_cast<Etat*>(p);
        const auto zone = e->v->zoneAnneau();
        e->v->phase += 1.0 / 24;
        e->f->redessiner(e->partiel ? std::optional(zone) : std::nullopt);
        return gboolean(G_SOURCE_CONTINUE);
    }, &e);
    const double a0 = cpuProcessus(), s0 = cpuServeur(xpid);
    const gint64 fin = g_get_monotonic_time() + gint64(secondes * 1e6);
    while (g_get_monotonic_time() < fin) g_main_context_iteration(nullptr, TRUE);
    g_source_remove(id);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    return {(cpuProcessus() - a0) / secondes, (cpuServeur(xpid) - s0) / secondes};
}

}  // namespace

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "pas d’affichage\n");
        return 1;
    }
    const double secondes = argc > 1 ? std::atof(argv[1]) : 4;
    auto f = vimba::creerFenetreX11();
    auto ecran = f->ecran();
    if (!ecran) return 1;
    vimba::VueMarqueur v(ecran->largeur, ecran->hauteur);
    v.point = {ecran->largeur / 2.0, ecran->hauteur / 2.0};
    v.texte = "Cliquez ici pour continuer";
    v.traits = {{{200, 200}, {600, 300}, {900, 250}}};
    f->preparer(*ecran, v);
    f->devant();
    const int xpid = serveurX();
    std::printf("écran %d×%d, compositeur : %s, %.0f s par mesure\n", ecran->largeur, ecran->hauteur,
                gdk_screen_is_composited(gdk_screen_get_default()) ? "oui" : "non", secondes);
    const Mesure complet = pulser(*f, v, false, secondes, xpid);
    const Mesure anneau = pulser(*f, v, true, secondes, xpid);
    auto ligne = [](const char* nom, Mesure m) {
        std::printf("%-28s agent %5.1f %% d’un cœur   serveur X %5.1f %%\n", nom, 100 * m.agent, 100 * m.serveur);
    };
    ligne("fenêtre entière (référence)", complet);
    ligne("carré de l’anneau", anneau);
    std::printf("rapport anneau / référence : agent %.3f, serveur X %.3f, total %.3f\n", anneau.agent / complet.agent,
                complet.serveur > 0 ? anneau.serveur / complet.serveur : 0,
                (anneau.agent + anneau.serveur) / (complet.agent + complet.serveur));
}
