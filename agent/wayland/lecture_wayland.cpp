// The accessibility reader on Wayland: the same walk over the front application's tree,
// with frames moved to the main output's logical pixels. A native Wayland client does not
// know where its window is, so GTK3 gives its widgets' places inside the window; sway says
// where each window is. Main thread.
#include <X11/Xlib.h>
#include <unistd.h>

#include <map>

#include "agent/linux/ecran_x11.h"
#include "agent/wayland/fabrique_wayland.h"
#include "agent/wayland/gardes_wayland.h"
#include "agent/wayland/sortie.h"
#include "agent/wayland/sway.h"
#include "reading/arbre.h"
#include "reading/linux/arbre_atspi.h"

namespace vimba::wayland {

namespace {

struct Decalage {
    double x = 0, y = 0;
};

// The tree as read, each frame moved by the place of the window that holds it.
class ArbreSurSortie final : public lecture::Arbre {
public:
    ArbreSurSortie(std::unique_ptr<lecture::Arbre> arbre, std::vector<std::pair<std::string, Decalage>> fenetres,
                   Decalage devant)
        : arbre_(std::move(arbre)), fenetres_(std::move(fenetres)), devant_(devant) {}

    Noeud racine() override { return arbre_->racine(); }
    bool montre(Noeud n) override { return arbre_->montre(n); }
    lecture::Infos infos(Noeud n) override { return arbre_->infos(n); }
    std::optional<std::string> etiquette(Noeud n) override { return arbre_->etiquette(n); }
    bool enPanne() const override { return arbre_->enPanne(); }
    void prevoirCadre(Noeud n) override { arbre_->prevoirCadre(n); }
    void prevoirTout() override { arbre_->prevoirTout(); }

    Cadre cadre(Noeud n) override {
        Cadre c = arbre_->cadre(n);
        if (c.largeur <= 0 && c.hauteur <= 0) return c;  // no frame stays no frame
        const Decalage d = decalage(n);
        c.x += d.x;
        c.y += d.y;
        return c;
    }

    std::vector<Noeud> enfants(Noeud n) override {
        auto liste = arbre_->enfants(n);
        for (Noeud e : liste)
            if (!decalages_.count(e)) decalages_[e] = n == arbre_->racine() ? pourFenetre(e) : decalage(n);
        return liste;
    }

private:
    Decalage decalage(Noeud n) const {
        auto it = decalages_.find(n);
        return it == decalages_.end() ? devant_ : it->second;
    }

    // A top-level window of the application: sway's window of the same title, else the one in front.
    Decalage pourFenetre(Noeud fenetre) {
        const auto titre = arbre_->infos(fenetre).titre;
        if (titre)
            for (const auto& [t, d] : fenetres_)
                if (t == *titre) return d;
        return devant_;
    }

    std::unique_ptr<lecture::Arbre> arbre_;
    std::vector<std::pair<std::string, Decalage>> fenetres_;
    Decalage devant_;
    std::map<Noeud, Decalage> decalages_;
};

// The tree reader moves frames by the X display's main monitor when there is one
// (Xwayland): the same origin is added back before ours is taken away.
Decalage origineX() {
    static Display* const d = XOpenDisplay(nullptr);
    if (!d) return {};
    const auto m = x11::moniteurPrincipal(d);
    return {double(m.x), double(m.y)};
}

class LectureWayland final : public Lecture {
public:
    std::vector<Element> elements(const std::optional<std::string>& motif, int maximum) override {
        auto arbre = arbreDevant();
        return arbre ? lecture::elements(*arbre, motif, maximum) : std::vector<Element>{};
    }

    std::optional<Element> viser(const std::string& nom) override {
        auto arbre = arbreDevant();
        return arbre ? lecture::viser(*arbre, nom) : std::nullopt;
    }

private:
    static std::unique_ptr<lecture::Arbre> arbreDevant() {
        const auto json = demanderSway(kSwayArbre);
        std::vector<FenetreSway> fenetres;
        int pid = 0;
        if (json) {
            fenetres = fenetresDe(*json);
            for (const auto& f : fenetres)
                if (f.focalisee) pid = f.pid;
        } else if (const auto d = fenetreDevant()) {
            pid = d->pid;
        }
        // Our own tree cannot answer while this thread waits for it.
        if (pid <= 0 || pid == getpid()) return nullptr;
        auto arbre = lecture::arbreApplication(pid);
        if (!arbre) return nullptr;

        const Decalage x = origineX();
        Decalage sortie;
        if (const auto s = sortiePrincipale()) sortie = {double(s->x), double(s->y)};
        // Without the compositor's view the window's place is unknown: frames stay as given.
        Decalage devant{x.x - sortie.x, x.y - sortie.y};
        std::vector<std::pair<std::string, Decalage>> siennes;
        for (const auto& f : fenetres) {
            if (f.pid != pid) continue;
            // An X11 client gives places on the X screen, which is sway's layout.
            Decalage d = f.xwayland ? Decalage{x.x - sortie.x, x.y - sortie.y}
                                    : Decalage{x.x + f.x - sortie.x, x.y + f.y - sortie.y};
            siennes.emplace_back(f.titre, d);
            if (f.focalisee) devant = d;
        }
        return std::make_unique<ArbreSurSortie>(std::move(arbre), std::move(siennes), devant);
    }
};

}  // namespace

std::unique_ptr<Lecture> creerLectureWayland() { return std::make_unique<LectureWayland>(); }

}  // namespace vimba::wayland
