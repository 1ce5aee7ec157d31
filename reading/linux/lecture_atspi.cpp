// The accessibility reader on Linux: the front application's AT-SPI tree. Main thread.
#include <unistd.h>

#include "agent/fabrique.h"
#include "agent/linux/devant.h"
#include "reading/linux/arbre_atspi.h"

namespace vimba {

namespace {

class LectureAtspi final : public Lecture {
public:
    std::vector<Element> elements(const std::optional<std::string>& motif, int maximum) override {
        const auto devant = x11::appliDevant();
        // Our own tree cannot answer while this thread waits for it.
        if (!devant || devant->pid <= 0 || devant->pid == getpid()) return {};
        auto arbre = lecture::arbreApplication(devant->pid);
        if (!arbre) return {};
        return lecture::elements(*arbre, motif, maximum);
    }

    std::optional<Element> viser(const std::string& nom) override {
        return lecture::choisir(elements(nom, lecture::maximumViser));
    }
};

}  // namespace

std::unique_ptr<Lecture> creerLecture() { return std::make_unique<LectureAtspi>(); }

}  // namespace vimba
