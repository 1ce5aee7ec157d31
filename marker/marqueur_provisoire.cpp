// Placeholder until the overlay lands: draws nothing.
#include "agent/fabrique.h"

namespace vimba {
namespace {
class MarqueurProvisoire final : public Marquage {
public:
    void montrer(double, double, const std::string&) override {}
    void tracer(const std::vector<Point>&) override {}
    void effacer() override {}
};
}  // namespace
std::unique_ptr<Marquage> creerMarqueur() { return std::make_unique<MarqueurProvisoire>(); }
}  // namespace vimba
