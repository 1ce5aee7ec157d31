#include "agent/agent.h"

#include <algorithm>

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

Agent::Agent(Services services, std::string d)
    : dossier(std::move(d)), interdites(applicationsInterdites()), s_(std::move(services)), veille_(dossier, [this] { tour(); }) {}

Agent::~Agent() {
    if (minuteur_) g_source_remove(minuteur_);
}

void Agent::demarrer() {
    if (minuteur_) return;
    arrete_ = false;
    // The watch only shortens the wait and lets idle ticks skip the listing; the 12 ms
    // poll stays the rule, so a missed event costs one tick at most.
    veille_.demarrer();
    minuteur_ = g_timeout_add(periodeMs, [](gpointer moi) -> gboolean {
        static_cast<Agent*>(moi)->tour();
        return G_SOURCE_CONTINUE;
    }, this);
}

void Agent::tour() {
    surveillerFlux();
    if (enCours_) return;
    if (minuteur_ && !veille_.aChange()) return;
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
        dernierGeste_ = std::chrono::steady_clock::now();
        const std::string reponse = executer(texte);
        // Stopped meanwhile (from inside the request): the folder is cleared, leave it so.
        if (!arrete_) d->ecrireAtomique(prefixeReponse + nom.substr(prefixeDemande.size()), reponse);
        enCours_ = false;
        veille_.marquerSale();  // others may be waiting for the next tick
        return;
    }
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
    if (minuteur_) {
        g_source_remove(minuteur_);
        minuteur_ = 0;
    }
    veille_.arreter();
    Marquage* m = s_.marqueur.get();
    s_.poster([m] { m->effacer(); });
    s_.diffuseur->arreter();
    const auto d = dossier::Dossier::ouvrir(dossier);
    if (!d) return;
    d->supprimer("vue.jpg");
    d->supprimer("vue.txt");
    if (auto noms = d->lister())
        for (const auto& n : *noms)
            if (commencePar(n, prefixeDemande) || commencePar(n, prefixeReponse)) d->retirer(n);
}

bool Agent::agitDepuis(double secondes) const {
    if (!dernierGeste_) return false;
    const std::chrono::duration<double> ecoule = std::chrono::steady_clock::now() - *dernierGeste_;
    return ecoule.count() < secondes;
}

}  // namespace vimba
