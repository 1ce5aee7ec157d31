#include "agent/agent.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "agent/dossier.h"
#include "agent/sensibles.h"
#include "agent/texte.h"

namespace vimba {

namespace {
constexpr guint periodeMs = 12;
// How often a running stream asks what is in front (a change of title inside a page is not
// always a change of window); a new window or title is judged at the next 12 ms tick.
constexpr std::chrono::milliseconds controleFlux{100};

bool commencePar(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool finitPar(std::string_view s, std::string_view f) { return s.size() >= f.size() && s.substr(s.size() - f.size()) == f; }
}  // namespace

// Wakes the main loop through a source whose ready time any thread may set.
class Agent::Tic {
public:
    explicit Tic(Agent& agent) : agent_(agent), reveil_(g_source_new(&fonctions, sizeof(GSource))), contexte_(g_main_context_new()) {
        g_source_set_callback(reveil_, [](gpointer a) -> gboolean {
            static_cast<Agent*>(a)->tour();
            return G_SOURCE_CONTINUE;
        }, &agent, nullptr);
        g_source_attach(reveil_, nullptr);
        GSource* t = g_timeout_source_new(periodeMs);
        g_source_set_callback(t, [](gpointer moi) -> gboolean {
            auto* tic = static_cast<Tic*>(moi);
            if (tic->agent_.aFaire()) g_source_set_ready_time(tic->reveil_, 0);
            return G_SOURCE_CONTINUE;
        }, this, nullptr);
        g_source_attach(t, contexte_);
        g_source_unref(t);
        fil_ = std::thread([this] {
            while (!fin_) g_main_context_iteration(contexte_, TRUE);
        });
    }
    ~Tic() {
        fin_ = true;
        g_main_context_wakeup(contexte_);
        fil_.join();
        g_main_context_unref(contexte_);
        g_source_destroy(reveil_);
        g_source_unref(reveil_);
    }

private:
    static gboolean lancer(GSource* s, GSourceFunc f, gpointer donnee) {
        g_source_set_ready_time(s, -1);
        return f ? f(donnee) : G_SOURCE_CONTINUE;
    }
    static inline GSourceFuncs fonctions{nullptr, nullptr, lancer, nullptr, nullptr, nullptr};

    Agent& agent_;
    GSource* reveil_;
    GMainContext* contexte_;
    std::atomic<bool> fin_{false};
    std::thread fil_;
};

Agent::Agent(Services services, std::string d)
    : dossier(std::move(d)), interdites(applicationsInterdites()), s_(std::move(services)), veille_(dossier, [this] { tour(); }) {}

Agent::~Agent() = default;

void Agent::demarrer() {
    if (tic_) return;
    arrete_ = false;
    // The watch only shortens the wait and lets idle ticks skip the listing; the 12 ms
    // poll stays the rule, so a missed event costs one tick at most.
    veille_.demarrer();
    tic_ = std::make_unique<Tic>(*this);
}

bool Agent::aFaire() const { return !veille_.peutDormir() || s_.diffuseur->port() != 0; }

void Agent::tour() {
    surveillerFlux();
    if (enCours_) return;
    if (tic_ && !veille_.aChange()) return;
    veille_.marquerPropre();
    // A folder not as the session makes it is not served at all; a change of its mode
    // or owner wakes the watch again.
    const auto d = dossier::Dossier::ouvrir(dossier);
    if (!d) return;
    auto noms = d->lister();
    if (!noms) return;
    std::vector<std::string> demandes;
    for (auto& n : *noms)
        if (commencePar(n, prefixeDemande) && !finitPar(n, ".tmp")) demandes.push_back(std::move(n));
    std::sort(demandes.begin(), demandes.end());

    for (const auto& nom : demandes) {
        std::string texte;
        const auto lu = d->lire(nom, texte, tailleMaximum);
        if (lu == dossier::Lecture::PasUnFichier || lu == dossier::Lecture::Etrangere) {
            // A directory, FIFO, link, or a file from outside the session is no request:
            // drop it unanswered and let the next one through.
            d->retirer(nom);
            continue;
        }
        if (lu == dossier::Lecture::TropLongue) {
            // Removed before anything else, so that it cannot come back at the next start.
            d->supprimer(nom);
            d->ecrireAtomique(prefixeReponse + nom.substr(prefixeDemande.size()), "erreur demande trop longue");
            veille_.marquerSale();
            return;
        }
        if (lu != dossier::Lecture::Lue || !texte::utf8Valide(texte)) {
            d->supprimer(nom);
            veille_.marquerSale();
            return;
        }
        enCours_ = true;
        d->supprimer(nom);
        dernierGeste_ = derniereActivite_ = std::chrono::steady_clock::now();
        d->ecrireAtomique(marqueEnCours, "");
        const std::string reponse = executer(texte);
        // Stopped meanwhile (from inside the request): the folder is cleared, leave it so.
        if (!arrete_) {
            const std::string id = nom.substr(prefixeDemande.size());
            // Asked again after writing: the client may give up between the two.
            if (!d->existe(prefixeAbandon + id)) d->ecrireAtomique(prefixeReponse + id, reponse);
            if (d->existe(prefixeAbandon + id)) {
                d->supprimer(prefixeReponse + id);
                d->supprimer(prefixeAbandon + id);
            }
            d->supprimer(marqueEnCours);
        }
        enCours_ = false;
        veille_.marquerSale();  // others may be waiting for the next tick
        return;
    }
}

void Agent::signalerActivite() {
    const auto maintenant = std::chrono::steady_clock::now();
    if (!enCours_ || arrete_ || maintenant - derniereActivite_ < std::chrono::seconds(1)) return;
    derniereActivite_ = maintenant;
    if (const auto d = dossier::Dossier::ouvrir(dossier)) d->ecrireAtomique(marqueEnCours, "");
}

void Agent::surveillerFlux() {
    if (s_.diffuseur->port() == 0) return;
    const auto maintenant = std::chrono::steady_clock::now();
    // Another window or title in front is judged at the next tick, not the next check: the
    // stream holds it black until then.
    if (maintenant - dernierControleFlux_ < controleFlux && s_.gardes->cleDevant() == cleJugee_) return;
    jugerFlux();
}

void Agent::jugerFlux() {
    dernierControleFlux_ = std::chrono::steady_clock::now();
    // The window first: a verdict given for a window that came in front meanwhile must not
    // clear it, only make the stream wait for the next one.
    cleJugee_ = s_.gardes->cleDevant();
    s_.diffuseur->masquer(devantSensible().has_value(), cleJugee_);
}

void Agent::stopper() {
    arrete_ = true;
    tic_.reset();
    veille_.arreter();
    Marquage* m = s_.marqueur.get();
    s_.poster([m] { m->effacer(); });
    s_.diffuseur->arreter();
    const auto d = dossier::Dossier::ouvrir(dossier);
    if (!d) return;
    d->supprimer("vue.jpg");
    d->supprimer("vue.txt");
    d->supprimer(marqueEnCours);
    if (auto noms = d->lister())
        for (const auto& n : *noms)
            if (commencePar(n, prefixeDemande) || commencePar(n, prefixeReponse) || commencePar(n, prefixeAbandon))
                d->retirer(n);
}

bool Agent::agitDepuis(double secondes) const {
    if (!dernierGeste_) return false;
    const std::chrono::duration<double> ecoule = std::chrono::steady_clock::now() - *dernierGeste_;
    return ecoule.count() < secondes;
}

}  // namespace vimba
