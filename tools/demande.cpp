// vimba-demande: the technician's end of the command channel. Drops one request into the
// folder, waits for its reply, prints it and removes it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>

#include "tools/canal.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: vimba-demande [--attente SECONDES] [--dossier DOSSIER] ['DEMANDE']\n"
                         "       sans DEMANDE, le texte est lu sur l’entrée standard\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dossier = "/tmp/vimba-sos";
    double attente = 10;
    std::string demande;
    bool donnee = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--attente" && i + 1 < argc) {
            char* fin = nullptr;
            attente = std::strtod(argv[++i], &fin);
            if (*fin || !(attente >= 0)) return usage();
        } else if (a == "--dossier" && i + 1 < argc) {
            dossier = argv[++i];
        } else if (a == "--help" || a == "-h" || donnee) {
            return usage();
        } else {
            demande = a;
            donnee = true;
        }
    }
    if (!donnee) demande.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());

    const auto ms = std::chrono::milliseconds(static_cast<long long>(std::min(attente, 1e6) * 1000));
    const auto r = vimba::canal::demander(dossier, demande, {ms, ms, false, true});
    switch (r.etat) {
        case vimba::canal::Resultat::Etat::Impossible:
            std::fprintf(stderr, "vimba-demande : %s\n", r.raison.c_str());
            break;
        case vimba::canal::Resultat::Etat::SansReponse:
            std::fprintf(stderr, "vimba-demande : pas de réponse après %g s (l’agent tourne-t-il ?)\n", attente);
            break;
        case vimba::canal::Resultat::Etat::Repondue:
            // The reply exactly for a program; for a person at a terminal, its controls
            // escaped and a line feed after it.
            if (::isatty(STDOUT_FILENO)) {
                const std::string sur = vimba::canal::pourTerminal(r.texte) + '\n';
                std::fwrite(sur.data(), 1, sur.size(), stdout);
            } else {
                std::fwrite(r.texte.data(), 1, r.texte.size(), stdout);
            }
            break;
    }
    return vimba::canal::codeDeSortie(r);
}
