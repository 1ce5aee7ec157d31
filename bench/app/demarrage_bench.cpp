// Start-up of the application's window: from creating it to the page having shown the
// permission notice, and the memory of this process with its web processes. The baseline is
// a bare web view loading a one-line page, measured in the same process, rounds alternated.
// Run inside scripts/avec-bureau.sh.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "agent/doubles.h"
#include "app/fenetre.h"

using namespace vimba;
using Horloge = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

template <class F>
bool attendre(F condition, double secondes = 20) {
    auto fin = Horloge::now() + std::chrono::duration<double>(secondes);
    while (Horloge::now() < fin) {
        if (condition()) return true;
        g_main_context_iteration(nullptr, FALSE);
        if (!g_main_context_pending(nullptr)) g_usleep(500);
    }
    return condition();
}

std::string evaluer(WebKitWebView* vue, const std::string& js) {
    struct Attente {
        bool fini = false;
        std::string valeur;
    } a;
    webkit_web_view_evaluate_javascript(
        vue, js.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* o, GAsyncResult* r, gpointer p) {
            auto* a = static_cast<Attente*>(p);
            if (JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(o), r, nullptr)) {
                gchar* t = jsc_value_to_string(v);
                a->valeur = t;
                g_free(t);
                g_object_unref(v);
            }
            a->fini = true;
        },
        &a);
    while (!a.fini) g_main_context_iteration(nullptr, TRUE);
    return a.valeur;
}

// Resident memory in KiB of a process and all its descendants.
long memoire(int pid) {
    long total = 0;
    std::ifstream statut("/proc/" + std::to_string(pid) + "/status");
    for (std::string l; std::getline(statut, l);)
        if (l.rfind("VmRSS:", 0) == 0) total += std::stol(l.substr(6));
    std::error_code ec;
    for (auto& e : fs::directory_iterator("/proc", ec)) {
        std::string nom = e.path().filename();
        if (nom.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream s(e.path() / "stat");
        std::string ligne;
        std::getline(s, ligne);
        auto p = ligne.rfind(')');
        if (p == std::string::npos) continue;
        int parent = 0;
        char etat;
        std::sscanf(ligne.c_str() + p + 1, " %c %d", &etat, &parent);
        if (parent == pid) total += memoire(std::stoi(nom));
    }
    return total;
}

struct Mesure {
    double secondes;
    long kio;
};

Mesure vueNue() {
    auto debut = Horloge::now();
    GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(w), 520, 600);
    auto* vue = WEBKIT_WEB_VIEW(webkit_web_view_new());
    gtk_container_add(GTK_CONTAINER(w), GTK_WIDGET(vue));
    gtk_widget_show_all(w);
    bool charge = false;
    g_signal_connect(vue, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent e, gpointer p) {
                         if (e == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(p) = true;
                     }),
                     &charge);
    webkit_web_view_load_html(vue, "<p>x</p>", nullptr);
    attendre([&] { return charge; });
    evaluer(vue, "1");
    Mesure m{std::chrono::duration<double>(Horloge::now() - debut).count(), memoire(getpid())};
    gtk_widget_destroy(w);
    return m;
}

Mesure application(Agent& agent) {
    auto debut = Horloge::now();
    Fenetre f(agent, VIMBA_RESSOURCES, Programmes{VIMBA_RESSOURCES "/session.sh"});
    f.quitter = [] {};
    f.montrer();
    bool ok = attendre([&] { return evaluer(f.vue(), "document.getElementById('aut-ecran').className") != ""; });
    Mesure m{std::chrono::duration<double>(Horloge::now() - debut).count(), memoire(getpid())};
    if (!ok) std::fprintf(stderr, "la page n’a pas répondu\n");
    return m;
}

double mediane(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "aucun affichage\n");
        return 1;
    }
    essais::Journal journal;
    auto dossier = fs::temp_directory_path() / ("vimba-bench-app-" + std::to_string(getpid()));
    fs::create_directories(dossier);
    Agent agent(essais::servicesDoubles(journal), dossier.string());

    // The very first load pays for starting the web processes: measured apart.
    Mesure premiere = application(agent);
    std::printf("premier chargement de la page (processus web compris) : %.3f s, mémoire %ld Mio\n",
                premiere.secondes, premiere.kio / 1024);
    std::vector<double> tNue, tAppli, mNue, mAppli;
    for (int i = 0; i < 5; ++i) {
        Mesure n = vueNue();
        Mesure a = application(agent);
        tNue.push_back(n.secondes);
        tAppli.push_back(a.secondes);
        mNue.push_back(double(n.kio));
        mAppli.push_back(double(a.kio));
    }
    std::printf("vue nue, page d’une ligne : %.3f s, %.0f Mio (médianes de 5)\n", mediane(tNue), mediane(mNue) / 1024);
    std::printf("fenêtre de l’application jusqu’à la notice des autorisations : %.3f s, %.0f Mio\n",
                mediane(tAppli), mediane(mAppli) / 1024);
    std::printf("rapport temps application / vue nue : %.2f\n", mediane(tAppli) / mediane(tNue));
    std::printf("rapport mémoire application / vue nue : %.2f\n", mediane(mAppli) / mediane(mNue));
    fs::remove_all(dossier);
    return 0;
}
