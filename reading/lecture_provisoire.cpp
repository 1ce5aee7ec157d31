// Placeholder until the accessibility reader and screenshots land.
#include "agent/fabrique.h"

namespace vimba {
namespace {
class LectureProvisoire final : public Lecture {
public:
    std::vector<Element> elements(const std::optional<std::string>&, int) override { return {}; }
    std::optional<Element> viser(const std::string&) override { return std::nullopt; }
};
class PhotographeProvisoire final : public Photographe {
public:
    std::string capturer() override { return "erreur capture impossible"; }
};
}  // namespace
std::unique_ptr<Lecture> creerLecture() { return std::make_unique<LectureProvisoire>(); }
std::unique_ptr<Photographe> creerPhotographe(const std::string&) { return std::make_unique<PhotographeProvisoire>(); }
}  // namespace vimba
