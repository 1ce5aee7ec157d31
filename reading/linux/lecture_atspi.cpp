// The accessibility reader on Linux: the front application's AT-SPI tree. Main thread.
#include <unistd.h>

#include "agent/bureau.h"
#include "agent/fabrique.h"
#include "agent/linux/devant.h"
#include "agent/wayland/fabrique_wayland.h"
#include "reading/linux/arbre_atspi.h"

namespace vimba {

namespace {

class LectureAtspi final : public Lecture {
public:
    std::vector<Element> elements(const std::optional<std::string>& motif, int maximum) override {
        auto arbre = arbreDevant();
        auto l = arbre ? lecture::elements(*arbre, motif, maximum) : std::vector<Element>{};
        interrompue_ = arbre && arbre->enPanne();
        return l;
    }

    bool interrompue() const override { return interrompue_; }

    std::optional<Element> viser(const std::string& nom) override {
        auto arbre = arbreDevant();
        return arbre ? lecture::viser(*arbre, nom) : std::nullopt;
    }

private:
    bool interrompue_ = false;

    static std::unique_ptr<lecture::Arbre> arbreDevant() {
        const auto devant = x11::appliDevant();
        // Our own tree cannot answer while this thread waits for it.
        if (!devant || devant->pid <= 0 || devant->pid == getpid()) return nullptr;
        return lecture::arbreApplication(devant->pid);
    }
};

}  // namespace

std::unique_ptr<Lecture> creerLecture() {
    if (bureauCourant().affichage == Affichage::Wayland) return wayland::creerLectureWayland();
    return std::make_unique<LectureAtspi>();
}

}  // namespace vimba
