// libFuzzer target (ctest fuzz_lecteur, through tests/fuzz.sh): any byte stream fed to the
// viewer's parser and decoders, in pieces of any size, ends in pictures or in a refusal, never
// outside the picture. The corpus holds a tile picture, a split stream, a heartbeat, an H.264
// record and sample, and the hostile tile offset that once wrote outside the picture.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/voir/decodeur_h264.h"
#include "tools/voir/lecteur.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    using namespace vimba::voir;
    if (taille == 0) return 0;
    // The first byte cuts the rest into pieces, as reads from the socket would.
    const std::size_t morceau = 1 + donnees[0] % 64 * 97;
    ++donnees;
    --taille;
    Lecteur lecteur;
    Tableau tableau;
    auto tuiles = decodeurTuiles();
    auto video = decodeurH264();
    std::string erreur;
    for (std::size_t i = 0; i < taille && erreur.empty(); i += morceau) {
        const bool ok = lecteur.nourrir(donnees + i, std::min(morceau, taille - i), [&](const Message& m) {
            if (!erreur.empty()) return;
            auto& d = (m.genre == 'F' || m.genre == 'T') ? *tuiles : *video;
            if (d.traiter(m, tableau, erreur) &&
                tableau.bgra.size() != static_cast<std::size_t>(tableau.largeur) * tableau.hauteur * 4)
                std::abort();
        });
        if (!ok) break;
    }
    return 0;
}
