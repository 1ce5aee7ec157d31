#pragma once
// The marker controller: when the overlay exists, what its view holds, the pulse and the
// erase delays. Platform parts (window, timers) come through two small interfaces so the
// logic runs against doubles in tests. Main thread only.
#include <functional>
#include <memory>
#include <optional>

#include "agent/services.h"
#include "marker/vue_marqueur.h"

namespace vimba {

// The overlay window of the platform: transparent, above all, click-through.
class FenetreMarqueur {
public:
    virtual ~FenetreMarqueur() = default;
    // The main screen's size, none without a screen.
    virtual std::optional<Zone> ecran() = 0;
    // Creates the window over the screen on first use, else moves it there.
    virtual void preparer(const Zone& ecran, VueMarqueur& vue) = 0;
    virtual void devant() = 0;
    virtual void cacher() = 0;
    // Redraw the whole view, or only the given area of it.
    virtual void redessiner(std::optional<Zone> zone) = 0;
};

// Timers on the main loop; an id cancelled never fires again.
class Minuterie {
public:
    virtual ~Minuterie() = default;
    virtual unsigned armer(double secondes, bool repete, std::function<void()> action) = 0;
    virtual void annuler(unsigned id) = 0;
};

class Marqueur final : public Marquage {
public:
    static constexpr double kBattement = 1.0 / 24;
    static constexpr double kApresCible = 14, kApresTrait = 40;

    Marqueur(std::unique_ptr<FenetreMarqueur> fenetre, std::unique_ptr<Minuterie> minuterie);
    ~Marqueur() override;

    void montrer(double x, double y, const std::string& texte) override;
    void tracer(const std::vector<Point>& points) override;
    void effacer() override;

    const VueMarqueur* vue() const { return vue_.get(); }
    bool pulse() const { return battement_ != 0; }
    bool effacementArme() const { return effacement_ != 0; }

private:
    std::optional<Zone> preparer();
    void placer(double x, double y, const std::string& texte, const Zone& cadre);
    void repousserEffacement(double apres);

    // The view outlives the window that points at it.
    std::unique_ptr<VueMarqueur> vue_;
    std::unique_ptr<FenetreMarqueur> fenetre_;
    std::unique_ptr<Minuterie> minuterie_;
    unsigned battement_ = 0, effacement_ = 0;
};

// The X11 pieces, defined in marker/linux.
std::unique_ptr<FenetreMarqueur> creerFenetreX11();
// On GNOME's Wayland: the X11 overlay through Xwayland, which mutter keeps above (marker/linux).
std::unique_ptr<FenetreMarqueur> creerFenetreXwayland();
// On wlroots and KDE: a layer-shell overlay surface (marker/wayland).
std::unique_ptr<FenetreMarqueur> creerFenetreCouche();
std::unique_ptr<Minuterie> creerMinuterieGLib();

}  // namespace vimba
