// The command language: one request text in, one reply text out.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "agent/agent.h"
#include "agent/nombres.h"
#include "agent/sensibles.h"
#include "agent/texte.h"

namespace vimba {

namespace {
using Mots = std::vector<std::string_view>;
using nombres::tronque;

constexpr int maximumLire = 140;
constexpr int attentesPort = 40;
constexpr int pauseAttentePortMs = 25;

struct Demande {
    std::vector<std::string_view> lignes;
    Mots mots;

    // The lines after the first, joined back with the given link.
    std::string suite(std::string_view lien) const {
        return texte::joindre(Mots(lignes.begin() + 1, lignes.end()), lien);
    }
};

Demande analyser(std::string_view texte) {
    Demande d;
    d.lignes = texte::couper(texte, '\n', true);
    d.mots = texte::couper(texte::rogner(d.lignes[0]), ' ', false);
    return d;
}

std::optional<Point> point(const Mots& mots) {
    if (mots.size() < 3) return std::nullopt;
    auto x = nombres::coordonnee(mots[1]);
    auto y = nombres::coordonnee(mots[2]);
    if (!x || !y) return std::nullopt;
    return Point{*x, *y};
}

std::string joindreArguments(const Mots& mots) { return texte::joindre(Mots(mots.begin() + 1, mots.end()), " "); }

std::string caracteres(const std::string& t) { return std::to_string(texte::compterCaracteres(t)) + " caractères"; }

// Whether a `touche` word types text or pastes: a letter or space without Control or Alt,
// or Control with V. Modifier words as the key table reads them.
bool toucheQuiEcrit(std::string_view mot) {
    std::string m(mot);
    for (char& c : m) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const auto morceaux = texte::couper(m, '-', true);
    bool controle = false, alt = false;
    for (std::size_t i = 0; i + 1 < morceaux.size(); ++i) {
        const auto p = morceaux[i];
        controle = controle || p == "cmd" || p == "pomme" || p == "ctrl";
        alt = alt || p == "alt" || p == "option";
    }
    const std::string_view cle = morceaux.back();
    if (controle) return cle == "v";
    return !alt && ((cle.size() == 1 && cle[0] >= 'a' && cle[0] <= 'z') || cle == "espace");
}
}  // namespace

bool Agent::champRefuse() { return !s_.permissions->peutAgir() || s_.gardes->champSecurise(); }

std::string Agent::nomDevant() { return s_.gardes->appDevant().value_or("?"); }

std::optional<std::string> Agent::devantSensible() {
    const auto devant = s_.gardes->appDevant();
    if (devant && entreeSensible(*devant, interdites)) return *devant;
    // The entry, not the whole title: a title may itself show what is being kept out.
    if (const auto titre = s_.gardes->titreDevant())
        if (const auto e = entreeSensible(*titre, interdites)) {
            // A window that came to the front between the two looks: name its application.
            const auto apres = s_.gardes->appDevant();
            if (apres && entreeSensible(*apres, interdites)) return *apres;
            return apres.value_or("?") + ", fenêtre « " + *e + " »";
        }
    return std::nullopt;
}

std::string Agent::executer(std::string_view demandeTexte) {
    const Demande d = analyser(demandeTexte);
    const Mots& mots = d.mots;
    if (mots.empty()) return "erreur demande vide";

    const std::string_view verbe = mots[0];
    // Stopping the stream can never harm the user: served whatever is in front.
    if (verbe == "flux-stop") {
        s_.diffuseur->arreter();
        return "ok flux arrêté";
    }
    if (const auto devant = devantSensible()) {
        s_.diffuseur->masquer(true, s_.gardes->cleDevant());
        return "refus application sensible au premier plan (" + *devant + ")";
    }

    const std::string v(verbe);

    if (verbe == "vue") return s_.photographe->capturer();
    if (verbe == "lire") return lire(mots);
    if (verbe == "viser") return viser(mots);
    if (verbe == "clic" || verbe == "double" || verbe == "droit") {
        auto p = point(mots);
        if (!p) return "erreur coordonnées";
        s_.saisie->cliquer(p->x, p->y, verbe == "double", verbe == "droit");
        return "ok " + v + " " + tronque(p->x) + " " + tronque(p->y);
    }
    if (verbe == "bouger") {
        auto p = point(mots);
        if (!p) return "erreur coordonnées";
        s_.saisie->bouger(p->x, p->y);
        return "ok bouger";
    }
    if (verbe == "tape") {
        const std::string t = d.suite("\n");
        if (t.empty()) return "erreur rien à écrire";
        if (texte::compterCaracteres(t) > caracteresTapeMaximum)
            return "erreur texte trop long (au plus " + std::to_string(caracteresTapeMaximum) + " caractères)";
        if (champRefuse()) return "refus champ de mot de passe";
        // Asked again as typing goes: a Tab or a line feed can move the focus into a password
        // field, and in a long text the user may bring a sensitive application to the front
        // (whose verdict the stream gets too, the poll being held by this request). The main
        // loop runs between batches so that the user's stop is heard at once.
        bool refuse = false;
        std::optional<std::string> sensible;
        s_.saisie->ecrire(t, [&] {
            if (s_.laisserTourner) s_.laisserTourner();
            if (arrete_) return false;
            if (s_.diffuseur->port() != 0) jugerFlux();
            signalerActivite();
            if ((sensible = devantSensible())) return false;
            return !(refuse = champRefuse());
        });
        // A focus that left for an unreadable one may be a new window in front: judge it.
        if (refuse && !sensible) sensible = devantSensible();
        if (sensible) {
            s_.diffuseur->masquer(true, s_.gardes->cleDevant());
            return "refus application sensible au premier plan (" + *sensible + ")";
        }
        if (refuse) return "refus champ de mot de passe";
        if (arrete_) return "erreur saisie interrompue";
        return "ok " + caracteres(t);
    }
    if (verbe == "touche") {
        if (mots.size() < 2) return "erreur touche manquante";
        const std::string mot(mots[1]);
        if (toucheQuiEcrit(mot) && champRefuse()) return "refus champ de mot de passe";
        return s_.saisie->frapper(mot) ? "ok touche " + mot : "erreur touche inconnue " + mot;
    }
    if (verbe == "defiler") {
        auto p = point(mots);
        auto n = mots.size() >= 4 ? nombres::entier(mots[3]) : std::nullopt;
        // The scroll event carries a 32-bit line count; a larger amount is malformed.
        if (!p || !n || *n < std::numeric_limits<std::int32_t>::min() || *n > std::numeric_limits<std::int32_t>::max())
            return "erreur défilement";
        s_.saisie->defiler(p->x, p->y, static_cast<std::int32_t>(*n));
        return "ok defiler " + std::to_string(*n);
    }
    if (verbe == "montrer" || verbe == "dire") {
        auto p = point(mots);
        if (!p) return "erreur coordonnées";
        std::string label = verbe == "dire" ? std::string(texte::rogner(d.suite(" "))) : std::string();
        if (texte::compterCaracteres(label) > caracteresEtiquetteMaximum)
            return "erreur étiquette trop longue (au plus " + std::to_string(caracteresEtiquetteMaximum) + " caractères)";
        Marquage* m = s_.marqueur.get();
        s_.poster([m, p = *p, label = std::move(label)] { m->montrer(p.x, p.y, label); });
        return "ok repère " + tronque(p->x) + " " + tronque(p->y);
    }
    if (verbe == "tracer") {
        std::vector<Point> points;
        for (std::size_t i = 1; i < mots.size(); ++i) {
            const auto morceaux = texte::couper(mots[i], ',', false);
            if (morceaux.size() != 2) continue;
            auto x = nombres::coordonnee(morceaux[0]);
            auto y = nombres::coordonnee(morceaux[1]);
            if (x && y) points.push_back({*x, *y});
            if (points.size() > pointsTraitMaximum)
                return "erreur trait trop long (au plus " + std::to_string(pointsTraitMaximum) + " points)";
        }
        if (points.size() < 2) return "erreur trait trop court";
        const std::size_t n = points.size();
        Marquage* m = s_.marqueur.get();
        s_.poster([m, points = std::move(points)] { m->tracer(points); });
        return "ok trait " + std::to_string(n) + " points";
    }
    if (verbe == "effacer") {
        Marquage* m = s_.marqueur.get();
        s_.poster([m] { m->effacer(); });
        return "ok repère effacé";
    }
    if (verbe == "flux") return flux(mots);
    if (verbe == "presse-lire") {
        const std::string t = s_.presse->lire().value_or("");
        return t.empty() ? "ok presse vide" : "ok presse\n" + t;
    }
    if (verbe == "presse-ecrire") {
        const std::string t = d.suite("\n");
        if (t.empty()) return "erreur rien à coller";
        s_.presse->ecrire(t);
        return "ok presse " + caracteres(t);
    }
    if (verbe == "etat") {
        const bool ecran = s_.permissions->voitEcran();
        const bool agir = s_.permissions->peutAgir();
        return std::string("ok ecran=") + (ecran ? "1" : "0") + " agir=" + (agir ? "1" : "0") + " devant=" + nomDevant();
    }
    return "erreur verbe inconnu " + v;
}

std::string Agent::lire(const std::vector<std::string_view>& mots) {
    if (!s_.permissions->peutAgir()) return "refus autorisation de contrôle non accordée";
    std::optional<std::string> motif;
    if (mots.size() > 1) motif = joindreArguments(mots);
    // One more than shown tells whether the list was cut.
    auto liste = s_.lecture->elements(motif, maximumLire + 1);
    const bool coupe = liste.size() > static_cast<std::size_t>(maximumLire);
    if (coupe) liste.resize(maximumLire);
    const std::string partielle = s_.lecture->interrompue() ? "\n… liste partielle (délai dépassé)" : "";
    if (!liste.empty())
        return "ok " + std::to_string(liste.size()) + " éléments dans « " + nomDevant() + " »\n" + enLignes(liste) +
               (coupe ? "\n… et d’autres éléments au-delà de ces " + std::to_string(maximumLire) +
                            " (« lire MOTIF » pour les chercher)"
                      : "") +
               partielle;
    std::string r = "ok rien d'étiqueté dans « " + nomDevant() + " »";
    if (motif) r += " pour « " + *motif + " »";
    return r + " — là, il faut vraiment regarder l'image" + partielle;
}

std::string Agent::viser(const std::vector<std::string_view>& mots) {
    if (!s_.permissions->peutAgir()) return "refus autorisation de contrôle non accordée";
    const std::string nom = joindreArguments(mots);
    if (nom.empty()) return "erreur viser quoi ?";
    const auto e = s_.lecture->viser(nom);
    if (!e) return "erreur rien nommé « " + nom + " » dans « " + nomDevant() + " »";
    const double x = e->cadre.x + e->cadre.largeur / 2;
    const double y = e->cadre.y + e->cadre.hauteur / 2;
    s_.saisie->cliquer(x, y, false, false);
    const std::string role = e->role.starts_with("AX") ? e->role.substr(2) : e->role;
    // A field without a name is told by its contents, on one line and cut as `lire` does.
    std::string valeur;
    if (e->nom.empty() && !e->valeur.empty()) {
        std::string v = e->valeur;
        std::replace(v.begin(), v.end(), '\n', ' ');
        bool coupe = false;
        valeur = " = " + std::string(texte::debut(v, 90, coupe)) + (coupe ? "…" : "");
    }
    return "ok clic " + role + " « " + e->nom + " »" + valeur + " en " + tronque(x) + "," + tronque(y);
}

std::string Agent::flux(const std::vector<std::string_view>& mots) {
    if (!s_.permissions->voitEcran()) return "refus autorisation d'écran non accordée";
    const std::int64_t largeur = mots.size() > 1 ? nombres::entier(mots[1]).value_or(1440) : 1440;
    const std::int64_t qualite = mots.size() > 2 ? nombres::entier(mots[2]).value_or(45) : 45;
    const std::string moteur = mots.size() > 3 ? std::string(mots[3]) : "h264";
    // Judged before the first frame, so that it is not held black until the first check.
    jugerFlux();
    s_.diffuseur->demarrer(dossier, largeur, qualite, moteur);
    std::uint16_t port = s_.diffuseur->port();
    for (int i = 0; port == 0 && i < attentesPort && !arrete_; ++i) {
        s_.pause(pauseAttentePortMs);
        signalerActivite();
        if (s_.laisserTourner) s_.laisserTourner();
        port = s_.diffuseur->port();
    }
    if (port == 0) return "erreur flux impossible";
    return "ok flux " + std::to_string(port) + " " + s_.diffuseur->moteurActif();
}

}  // namespace vimba
