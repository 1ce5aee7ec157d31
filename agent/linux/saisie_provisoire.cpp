// Placeholder until input synthesis and the guards land: acts on nothing.
#include "agent/fabrique.h"

namespace vimba {
namespace {
class SaisieProvisoire final : public Saisie {
public:
    void cliquer(double, double, bool, bool) override {}
    void bouger(double, double) override {}
    void defiler(double, double, std::int32_t) override {}
    void ecrire(const std::string&) override {}
    bool frapper(const std::string&) override { return false; }
};
class GardesProvisoires final : public Gardes {
public:
    std::optional<std::string> appDevant() override { return std::nullopt; }
    bool champSecurise() override { return true; }
};
}  // namespace
std::unique_ptr<Saisie> creerSaisie() { return std::make_unique<SaisieProvisoire>(); }
std::unique_ptr<Gardes> creerGardes() { return std::make_unique<GardesProvisoires>(); }
}  // namespace vimba
