// Placeholder until the stream server lands: never listens.
#include "agent/fabrique.h"

namespace vimba {
namespace {
class DiffuseurProvisoire final : public Diffusion {
public:
    void demarrer(const std::string&, std::int64_t, std::int64_t, const std::string&) override {}
    std::uint16_t port() const override { return 0; }
    std::string moteurActif() const override { return "aucun"; }
    void arreter() override {}
};
}  // namespace
std::unique_ptr<Diffusion> creerDiffuseur() { return std::make_unique<DiffuseurProvisoire>(); }
}  // namespace vimba
