// The reader's speed on a GTK3 window with thousands of accessible nodes, beside a
// straightforward walk through libatspi that makes one call per attribute (the baseline),
// measured in the same process on the same window. Run inside scripts/avec-bureau.sh.
//   bench_lecture [--lignes N] [--groupes G] [--tours N]
#include <X11/Xlib.h>
#include <atspi/atspi.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "agent/linux/devant.h"
#include "agent/linux/ecran_x11.h"
#include "reading/linux/arbre_atspi.h"
#include "reading/roles.h"

namespace {

using namespace vimba;
using lecture::Arbre;

// The baseline: libatspi as it comes, each attribute asked for on its own.
class ArbreNaif final : public Arbre {
public:
    explicit ArbreNaif(AtspiAccessible* app) { noeuds_.push_back(app); }
    ~ArbreNaif() override {
        for (auto* n : noeuds_) g_object_unref(n);
    }
    Noeud racine() override { return 0; }
    bool montre(Noeud n) override {
        AtspiStateSet* e = atspi_accessible_get_state_set(noeuds_[n]);
        if (!e) return true;
        const bool r = atspi_state_set_contains(e, ATSPI_STATE_SHOWING) && atspi_state_set_contains(e, ATSPI_STATE_VISIBLE);
        g_object_unref(e);
        return r;
    }
    lecture::Infos infos(Noeud n) override {
        AtspiAccessible* a = noeuds_[n];
        lecture::Infos i;
        i.role = lecture::roleAX(atspi_accessible_get_role(a, nullptr));
        i.titre = texte(atspi_accessible_get_name(a, nullptr));
        i.description = texte(atspi_accessible_get_description(a, nullptr));
        if (AtspiStateSet* e = atspi_accessible_get_state_set(a)) {
            i.actif = atspi_state_set_contains(e, ATSPI_STATE_ACTIVE);
            i.modal = atspi_state_set_contains(e, ATSPI_STATE_MODAL);
            g_object_unref(e);
        }
        if (AtspiValue* v = atspi_accessible_get_value_iface(a)) {
            i.valeur = std::to_string(atspi_value_get_current_value(v, nullptr));
            g_object_unref(v);
        } else if (AtspiText* t = atspi_accessible_get_text_iface(a)) {
            i.valeur = texte(atspi_text_get_text(t, 0, 2048, nullptr));
            g_object_unref(t);
        }
        return i;
    }
    Cadre cadre(Noeud n) override {
        Cadre c;
        if (AtspiComponent* k = atspi_accessible_get_component_iface(noeuds_[n])) {
            if (AtspiRect* r = atspi_component_get_extents(k, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
                if (r->x != INT_MIN) c = Cadre{double(r->x), double(r->y), double(r->width), double(r->height)};
                g_free(r);
            }
            g_object_unref(k);
        }
        return c;
    }
    std::vector<Noeud> enfants(Noeud n) override {
        std::vector<Noeud> r;
        const int total = atspi_accessible_get_child_count(noeuds_[n], nullptr);
        for (int i = 0; i < total; ++i)
            if (AtspiAccessible* e = atspi_accessible_get_child_at_index(noeuds_[n], i, nullptr)) {
                r.push_back(noeuds_.size());
                noeuds_.push_back(e);
            }
        return r;
    }
    std::optional<std::string> etiquette(Noeud n) override {
        std::optional<std::string> r;
        GArray* relations = atspi_accessible_get_relation_set(noeuds_[n], nullptr);
        for (guint i = 0; relations && i < relations->len && !r; ++i) {
            AtspiRelation* rel = g_array_index(relations, AtspiRelation*, i);
            if (atspi_relation_get_relation_type(rel) == ATSPI_RELATION_LABELLED_BY &&
                atspi_relation_get_n_targets(rel) > 0) {
                AtspiAccessible* cible = atspi_relation_get_target(rel, 0);
                r = texte(atspi_accessible_get_name(cible, nullptr));
                g_object_unref(cible);
            }
        }
        if (relations) {
            for (guint i = 0; i < relations->len; ++i) g_object_unref(g_array_index(relations, AtspiRelation*, i));
            g_array_free(relations, TRUE);
        }
        return r;
    }
    bool enPanne() const override { return false; }

private:
    static std::optional<std::string> texte(gchar* s) {
        if (!s) return std::nullopt;
        std::string r = s;
        g_free(s);
        return r;
    }
    std::vector<AtspiAccessible*> noeuds_;
};

// Another tree passed through; the walks below change one question each.
class Relais : public Arbre {
public:
    explicit Relais(Arbre& a) : a_(a) {}
    Noeud racine() override { return a_.racine(); }
    bool montre(Noeud n) override { return a_.montre(n); }
    lecture::Infos infos(Noeud n) override { return a_.infos(n); }
    Cadre cadre(Noeud n) override { return a_.cadre(n); }
    void prevoirCadre(Noeud n) override { a_.prevoirCadre(n); }
    void prevoirTout() override { a_.prevoirTout(); }
    std::vector<Noeud> enfants(Noeud n) override { return a_.enfants(n); }
    std::optional<std::string> etiquette(Noeud n) override { return a_.etiquette(n); }
    bool enPanne() const override { return a_.enPanne(); }

protected:
    Arbre& a_;
};

// Counts the nodes a walk asks whether they show, and those it reads.
class Compteur final : public Relais {
public:
    using Relais::Relais;
    int sondes = 0, lus = 0;
    bool montre(Noeud n) override {
        ++sondes;
        return a_.montre(n);
    }
    lecture::Infos infos(Noeud n) override {
        ++lus;
        return a_.infos(n);
    }
};

// A tree that owns the one it passes through.
class Proprietaire : public Relais {
public:
    explicit Proprietaire(std::unique_ptr<Arbre> a) : Relais(*a), garde_(std::move(a)) {}

private:
    std::unique_ptr<Arbre> garde_;
};

// The walk as it was before it knew what is on screen: every node in the toolkit's order,
// fields named only by themselves.
class ToutEnOrdre final : public Proprietaire {
public:
    using Proprietaire::Proprietaire;
    bool montre(Noeud) override { return true; }
    lecture::Infos infos(Noeud n) override {
        lecture::Infos i = a_.infos(n);
        i.actif = i.modal = false;
        return i;
    }
    std::optional<std::string> etiquette(Noeud) override { return std::nullopt; }
};

// The tree asked node by node, as for an application that keeps no cache of its own.
class SansCache final : public Proprietaire {
public:
    using Proprietaire::Proprietaire;
    void prevoirTout() override {}
};

struct Mesure {
    double medianeMs = 0;
    double cpuAppliMs = 0;  // the application's own CPU time, median
    std::size_t elements = 0;
    int sondes = 0, lus = 0;
    std::size_t aLEcran = 0;
};

// Listed elements the technician can see: a frame whose middle lies on the main display
// and inside the window it belongs to (the last window listed before it).
std::size_t aLEcran(const std::vector<Element>& l, const x11::Moniteur& m) {
    const auto dedans = [](double x, double y, const Cadre& c) {
        return x >= c.x && y >= c.y && x < c.x + c.largeur && y < c.y + c.hauteur;
    };
    const Cadre ecran{0, 0, double(m.largeur), double(m.hauteur)};
    Cadre fenetre = ecran;
    std::size_t n = 0;
    for (const auto& e : l) {
        if (e.profondeur == 1 && e.role == "AXWindow") fenetre = e.cadre;
        const double x = e.cadre.x + e.cadre.largeur / 2, y = e.cadre.y + e.cadre.hauteur / 2;
        if (e.cadre.largeur > 0 && e.cadre.hauteur > 0 && dedans(x, y, ecran) && dedans(x, y, fenetre)) ++n;
    }
    return n;
}

using Creer = std::function<std::unique_ptr<Arbre>()>;

// The walks take turns, round after round, so that the machine's load weighs on each alike.
// User and system CPU time of a process so far, in milliseconds.
double cpuMs(pid_t pid) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return 0;
    char ligne[1024] = {};
    const bool lu = std::fgets(ligne, sizeof ligne, f) != nullptr;
    std::fclose(f);
    const char* p = lu ? std::strrchr(ligne, ')') : nullptr;
    unsigned long utime = 0, stime = 0;
    // After the name: state, then 10 fields before utime and stime.
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return 0;
    return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

std::vector<Mesure> mesurer(int tours, const std::vector<Creer>& walks, const std::optional<std::string>& motif,
                            const x11::Moniteur& ecran, pid_t appli) {
    std::vector<std::vector<double>> durees(walks.size()), cpus(walks.size());
    std::vector<Mesure> m(walks.size());
    for (int t = 0; t < tours; ++t)
        for (std::size_t w = 0; w < walks.size(); ++w) {
            const auto debut = std::chrono::steady_clock::now();
            const double cpuAvant = cpuMs(appli);
            auto arbre = walks[w]();
            // The application can miss the query bound on a loaded machine: count it as lost.
            if (!arbre) {
                std::fprintf(stderr, "application introuvable sur le bus d’accessibilité\n");
                m[w].elements = 0;
                continue;
            }
            Compteur c(*arbre);
            const auto l = lecture::elements(c, motif, 140);
            arbre.reset();
            durees[w].push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - debut).count());
            cpus[w].push_back(cpuMs(appli) - cpuAvant);
            m[w].elements = l.size();
            m[w].sondes = c.sondes;
            m[w].lus = c.lus;
            m[w].aLEcran = aLEcran(l, ecran);
        }
    for (std::size_t w = 0; w < walks.size(); ++w) {
        std::sort(durees[w].begin(), durees[w].end());
        m[w].medianeMs = durees[w].empty() ? -1 : durees[w][durees[w].size() / 2];
        std::sort(cpus[w].begin(), cpus[w].end());
        m[w].cpuAppliMs = cpus[w].empty() ? -1 : cpus[w][cpus[w].size() / 2];
    }
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int lignes = 2100, tours = 9, groupes = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--lignes")) lignes = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--groupes")) groupes = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--tours")) tours = std::atoi(argv[i + 1]);
    }
    char modele[] = "/tmp/bench-lecture-XXXXXX";
    const std::string etat = mkdtemp(modele);
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string n = std::to_string(lignes), g = std::to_string(groupes);
        execl(VIMBA_APPLI, VIMBA_APPLI, "--etat", etat.c_str(), "--scene", "lecture", "--lignes", n.c_str(), "--groupes",
              g.c_str(), nullptr);
        _exit(127);
    }
    for (int i = 0; i < 600 && !std::filesystem::exists(etat + "/pret"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int code = 1;
    if (!x11::atspiPret()) {
        std::fprintf(stderr, "pas de bus d’accessibilité\n");
    } else {
        // The bridge registers the window's widgets lazily: one warm-up walk each way.
        const Creer nous = [&] { return lecture::arbreApplication(pid); };
        const Creer naif = [&]() -> std::unique_ptr<Arbre> {
            AtspiAccessible* app = x11::applicationAtspi(pid);
            return app ? std::make_unique<ArbreNaif>(app) : nullptr;
        };
        Display* affichage = XOpenDisplay(nullptr);
        const x11::Moniteur ecran = affichage ? x11::moniteurPrincipal(affichage) : x11::Moniteur{};
        if (affichage) XCloseDisplay(affichage);
        mesurer(1, {nous, naif}, std::string("introuvable"), ecran, pid);
        if (groupes > 0)
            std::printf("fenêtre GTK3 de %d lignes (une boîte avec un texte et un bouton chacune) par boîtes de %d, médianes de %d tours\n",
                        lignes, groupes, tours);
        else
            std::printf("fenêtre GTK3 de %d lignes (un texte et un bouton chacune) dans une grille, médianes de %d tours\n", lignes,
                        tours);
        const Creer enOrdre = [&]() -> std::unique_ptr<Arbre> {
            auto a = nous();
            return a ? std::make_unique<ToutEnOrdre>(std::move(a)) : nullptr;
        };
        const auto lires = mesurer(tours, {nous, naif, enOrdre}, std::nullopt, ecran, pid);
        const Mesure &l1 = lires[0], &l0 = lires[1], &lt = lires[2];
        std::printf("lire (140 au plus)       : %8.1f ms (%zu éléments, %d nœuds sondés, %d lus)  référence %8.1f ms  rapport %.1f×\n",
                    l1.medianeMs, l1.elements, l1.sondes, l1.lus, l0.medianeMs, l0.medianeMs / l1.medianeMs);
        std::printf("  dont CPU de l’application : %8.1f ms  (référence %8.1f ms)\n", l1.cpuAppliMs, l0.cpuAppliMs);
        std::printf("lire, tout dans l’ordre  : %8.1f ms (%zu éléments, %d nœuds lus)  rapport au parcours de l’écran %.2f×\n",
                    lt.medianeMs, lt.elements, lt.lus, lt.medianeMs / l1.medianeMs);
        std::printf("à l’écran                : %zu des %zu éléments listés (tout dans l’ordre : %zu des %zu)\n", l1.aLEcran,
                    l1.elements, lt.aLEcran, lt.elements);
        const int toursLongs = std::max(3, tours / 3);
        const auto parcours = mesurer(toursLongs, {nous, naif}, std::string("introuvable"), ecran, pid);
        const Mesure &p1 = parcours[0], &p0 = parcours[1];
        // Nothing on screen matches: the hidden parts are walked again, from what the first walk kept.
        std::printf("parcours sans résultat   : %8.1f ms (%d nœuds sondés, %d lus)  référence %8.1f ms  rapport %.1f×\n",
                    p1.medianeMs, p1.sondes, p1.lus, p0.medianeMs, p0.medianeMs / p1.medianeMs);
        // What the walk costs the application itself: no reader can go below it.
        std::printf("  dont CPU de l’application : %8.1f ms  (référence %8.1f ms)\n", p1.cpuAppliMs, p0.cpuAppliMs);
        // Rows far down and a closed menu's item: the hidden parts read from the application's
        // cache give the same lines as when asked node by node.
        bool memes = true;
        for (const char* motif : {"1234", "coller"}) {
            auto a = nous(), b = nous();
            SansCache c(std::move(b));
            const std::string avec = a ? enLignes(lecture::elements(*a, std::string(motif), 140)) : "";
            const std::string sans = enLignes(lecture::elements(c, std::string(motif), 140));
            memes &= !avec.empty() && avec == sans;
        }
        std::printf("parties cachées          : %s\n", memes ? "mêmes lignes avec le cache de l’application et sans" : "LIGNES DIFFÉRENTES avec le cache et sans");
        code = l1.elements > 0 && lt.elements > 0 && p1.lus > 0 && memes ? 0 : 1;
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(etat);
    return code;
}
