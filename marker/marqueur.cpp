#include "marker/marqueur.h"

#include "agent/bureau.h"
#include "agent/fabrique.h"

namespace vimba {

Marqueur::Marqueur(std::unique_ptr<FenetreMarqueur> fenetre, std::unique_ptr<Minuterie> minuterie)
    : fenetre_(std::move(fenetre)), minuterie_(std::move(minuterie)) {}

// The timers capture this; cancelling them here keeps a late tick from touching a dead marker.
Marqueur::~Marqueur() {
    if (battement_) minuterie_->annuler(battement_);
    if (effacement_) minuterie_->annuler(effacement_);
}

std::optional<Zone> Marqueur::preparer() {
    auto cadre = fenetre_->ecran();
    if (!cadre) return std::nullopt;
    if (!vue_) vue_ = std::make_unique<VueMarqueur>(cadre->largeur, cadre->hauteur);
    vue_->redimensionner(cadre->largeur, cadre->hauteur);
    fenetre_->preparer(*cadre, *vue_);
    return cadre;
}

void Marqueur::montrer(double x, double y, const std::string& texte) {
    auto cadre = preparer();
    if (!cadre) return;
    placer(x, y, texte, *cadre);
    fenetre_->devant();
    fenetre_->redessiner(std::nullopt);
    if (battement_) minuterie_->annuler(battement_);
    battement_ = minuterie_->armer(kBattement, true, [this] {
        if (!vue_) return;
        const Zone avant = vue_->zoneAnneau();
        vue_->phase += kBattement;
        fenetre_->redessiner(avant);
    });
    repousserEffacement(kApresCible);
}

void Marqueur::placer(double x, double y, const std::string& texte, const Zone& cadre) {
    vue_->point = Point{x, cadre.hauteur - y};
    vue_->texte = texte;
    vue_->phase = 0;
}

void Marqueur::tracer(const std::vector<Point>& points) {
    if (points.size() < 2) return;
    auto cadre = preparer();
    if (!cadre) return;
    std::vector<Point> trait;
    trait.reserve(points.size());
    for (const auto& p : points) trait.push_back(Point{p.x, cadre->hauteur - p.y});
    vue_->traits.push_back(std::move(trait));
    fenetre_->devant();
    fenetre_->redessiner(std::nullopt);
    repousserEffacement(kApresTrait);
}

void Marqueur::repousserEffacement(double apres) {
    if (effacement_) minuterie_->annuler(effacement_);
    effacement_ = minuterie_->armer(apres, false, [this] {
        effacement_ = 0;  // a one-shot timer is spent once it fires
        effacer();
    });
}

void Marqueur::effacer() {
    if (battement_) minuterie_->annuler(battement_);
    if (effacement_) minuterie_->annuler(effacement_);
    battement_ = effacement_ = 0;
    if (vue_) {
        vue_->traits.clear();
        vue_->texte.clear();
        vue_->point = Point{};
        fenetre_->cacher();
    }
}

std::unique_ptr<Marquage> creerMarqueur() {
    const Bureau& b = bureauCourant();
    auto fenetre = b.affichage == Affichage::X11        ? creerFenetreX11()
                   : b.compositeur == Compositeur::Gnome ? creerFenetreXwayland()
                                                         : creerFenetreCouche();
    return std::make_unique<Marqueur>(std::move(fenetre), creerMinuterieGLib());
}

}  // namespace vimba
