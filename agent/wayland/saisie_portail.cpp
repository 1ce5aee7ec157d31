#include "agent/wayland/saisie_portail.h"

#include <X11/keysym.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <cmath>

#include "agent/linux/touches.h"
#include "agent/wayland/portail.h"
#include "agent/wayland/rythme.h"
#include "agent/wayland/sortie.h"

namespace vimba::wayland {

SaisiePortail::SaisiePortail(std::unique_ptr<CanalPortail> canal, std::function<std::uint64_t()> devant)
    : canal_(std::move(canal)), devant_(std::move(devant)) {}

// The portal takes points in the stream's frame: a point of the main output moves by the
// offset between the two, and stops at the frame's edge.
void SaisiePortail::deplacer(double x, double y) {
    const auto flux = canal_->flux();
    if (!flux) return;
    const auto principale = canal_->principale().value_or(CanalPortail::Cadre{flux->x, flux->y});
    auto axe = [](double v, int origine, int debut, int taille) {
        if (std::isnan(v)) v = 0;
        const double r = std::floor(v) + origine - debut;
        return taille > 0 ? std::clamp(r, 0.0, taille - 1.0) : std::max(r, 0.0);
    };
    canal_->pointeurAbsolu(axe(x, principale.x, flux->x, flux->largeur), axe(y, principale.y, flux->y, flux->hauteur));
}

void SaisiePortail::cliquer(double x, double y, bool double_, bool droit) {
    deplacer(x, y);
    canal_->vider();
    pause(kApresDeplacement);
    // The compositor counts the clicks: two presses close in time and place are a double click.
    const int code = droit ? BTN_RIGHT : BTN_LEFT;
    for (int n = 0; n < (double_ ? 2 : 1); ++n) {
        canal_->bouton(code, true);
        pause(kEnfoncementBouton);
        canal_->bouton(code, false);
        if (double_) pause(kApresClicDouble);
    }
    canal_->vider();
}

void SaisiePortail::bouger(double x, double y) {
    deplacer(x, y);
    canal_->vider();
}

void SaisiePortail::defiler(double x, double y, std::int32_t lignes) {
    deplacer(x, y);
    // Positive is up, which the portal counts as negative steps; one event per wheel click.
    const int sens = lignes > 0 ? -1 : 1;
    const std::int64_t crans = std::min<std::int64_t>(std::abs(static_cast<std::int64_t>(lignes)), kCransMaximum);
    for (std::int64_t i = 0; i < crans; ++i) canal_->defilerDiscret(sens);
    canal_->vider();
}

void SaisiePortail::ecrire(const std::string& texte, const std::function<bool()>& avant) {
    ecrireAvecAvis(symbolesDuTexte(texte), avant,
                   {devant_, [this] { canal_->vider(); },
                    [this](std::uint32_t s) {
                        if (s == 0) return;
                        canal_->toucheSymbole(s, true);
                        canal_->toucheSymbole(s, false);
                    }});
}

bool SaisiePortail::frapper(const std::string& mot) {
    const auto combinaison = x11::lireCombinaison(mot);
    if (!combinaison) return false;
    // The modifier keys go down first and come up last, in reverse order.
    std::vector<std::uint32_t> modificateurs;
    for (auto [m, s] : {std::pair<unsigned, std::uint32_t>{x11::Controle, XK_Control_L}, {x11::Alt, XK_Alt_L},
                        {x11::Majuscule, XK_Shift_L}})
        if (combinaison->modificateurs & m) modificateurs.push_back(s);
    for (std::uint32_t m : modificateurs) canal_->toucheSymbole(m, true);
    canal_->toucheSymbole(static_cast<std::uint32_t>(combinaison->touche), true);
    canal_->vider();
    pause(kEnfoncementTouche);
    canal_->toucheSymbole(static_cast<std::uint32_t>(combinaison->touche), false);
    for (auto m = modificateurs.rbegin(); m != modificateurs.rend(); ++m) canal_->toucheSymbole(*m, false);
    canal_->vider();
    return true;
}

namespace {

// The process's portal session; events are dropped while its input is not granted, as the
// user has not allowed them yet.
class CanalReel final : public CanalPortail {
public:
    std::optional<Cadre> flux() override {
        if (!p().saisieAccordee()) return std::nullopt;
        const auto f = p().flux();
        if (!f) return Cadre{};
        return Cadre{f->x, f->y, f->largeur, f->hauteur};
    }
    std::optional<Cadre> principale() override {
        const auto s = sortiePrincipale();
        if (!s) return std::nullopt;
        return Cadre{s->x, s->y, s->largeur, s->hauteur};
    }
    void pointeurAbsolu(double x, double y) override { p().pointeurAbsolu(x, y); }
    void bouton(int code, bool presse) override { p().bouton(code, presse); }
    void defilerDiscret(int crans) override { p().defilerDiscret(0, crans); }
    void toucheSymbole(std::uint32_t keysym, bool presse) override { p().toucheSymbole(keysym, presse); }
    void vider() override { p().vider(); }

private:
    static Portail& p() { return Portail::commun(); }
};

}  // namespace

std::unique_ptr<CanalPortail> canalDuPortail() { return std::make_unique<CanalReel>(); }

}  // namespace vimba::wayland
