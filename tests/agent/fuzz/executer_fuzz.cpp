// libFuzzer target: any request text gets one reply that starts as the language says.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent/agent.h"
#include "../doubles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    using namespace vimba;
    static essais::Journal j;
    static Agent agent(essais::servicesDoubles(j), "/nonexistent-vimba");
    j.appels.clear();
    j.postes.clear();
    // The first byte steers the doubles so the guarded paths are reached too.
    if (taille > 0) {
        j.devant = (donnees[0] & 1) ? std::optional<std::string>("Kraken Pro") : std::nullopt;
        j.securise = donnees[0] & 2;
        j.agir = donnees[0] & 4;
        j.ecran = donnees[0] & 8;
        j.lecturesPortAvantOuverture = (donnees[0] & 16) ? 100 : 0;
    }
    const std::string_view texte(reinterpret_cast<const char*>(donnees), taille);
    const std::string r = agent.executer(texte);
    if (!(r.starts_with("ok ") || r.starts_with("erreur ") || r.starts_with("refus "))) std::abort();
    essais::viderPostes(j);
    return 0;
}
