// vimba-technicien: the technician's end of a real session, from the command line or as an
// MCP server for an AI.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>

#include "tools/technicien/configuration.h"
#include "tools/technicien/liaison_ssh.h"
#include "tools/technicien/mcp.h"
#include "tools/technicien/service_http.h"
#include "tools/technicien/technicien.h"

using namespace vimba::technicien;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage : vimba-technicien code\n"
                 "        vimba-technicien attendre [SECONDES]\n"
                 "        vimba-technicien demande ['DEMANDE']      (sans DEMANDE, lue sur l’entrée standard)\n"
                 "        vimba-technicien vue FICHIER.jpg\n"
                 "        vimba-technicien voir [LARGEUR QUALITE MOTEUR] [-- OPTIONS DE vimba-voir]\n"
                 "        vimba-technicien fin\n"
                 "        vimba-technicien mcp                      (serveur MCP sur l’entrée et la sortie standard)\n");
    return 2;
}

int echec(const std::string& texte, int code) {
    std::fprintf(stderr, "vimba-technicien : %s\n", texte.c_str());
    return code;
}

// A reply exactly as the computer gave it; a line feed after it only for a person at a terminal.
void afficherReponse(const std::string& texte) {
    std::fwrite(texte.data(), 1, texte.size(), stdout);
    if (::isatty(STDOUT_FILENO)) std::fputc('\n', stdout);
    std::fflush(stdout);
}

int rendre(const Issue& i) {
    if (i.statut == 2) return echec(i.texte, 2);
    afficherReponse(i.texte);
    return i.statut;
}

class PosteTechnicien : public Poste {
public:
    explicit PosteTechnicien(Technicien& t) : t_(t) {}
    Issue code() override { return t_.code(); }
    Issue attendre(double delai) override { return t_.attendre(delai, false); }
    Issue fin() override { return t_.fin(); }
    Issue demande(const std::string& requete) override { return t_.demande(requete); }
    Issue vue(std::string& jpeg) override { return t_.vue(jpeg); }

private:
    Technicien& t_;
};

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) return usage();
    const std::string verbe = argv[1];
    std::vector<std::string> mots(argv + 2, argv + argc);

    std::string erreur;
    const auto configuration = lireConfiguration(erreur);
    if (!configuration) return echec(erreur, 1);
    Technicien t(*configuration, std::make_unique<ServiceHttp>(*configuration), std::make_unique<LiaisonSsh>(cheminCle(*configuration)));

    if (verbe == "code" && mots.empty()) {
        const Issue i = t.code();
        if (i.statut != 0) return echec(i.texte, 1);
        std::printf("%s\n", i.texte.c_str());
        std::fflush(stdout);
        if (::isatty(STDERR_FILENO)) std::fprintf(stderr, "Code à dicter, valable 10 minutes ; puis « vimba-technicien attendre ».\n");
        return 0;
    }
    if (verbe == "attendre" && mots.size() <= 1) {
        char* fin = nullptr;
        const double delai = mots.empty() ? 0 : std::strtod(mots[0].c_str(), &fin);
        if (!mots.empty() && (*fin || !(delai > 0))) return usage();
        const Issue i = t.attendre(delai, ::isatty(STDERR_FILENO));
        if (i.statut != 0) return echec(i.texte, i.statut);
        std::fprintf(stderr, "%s\n", i.texte.c_str());
        return 0;
    }
    if (verbe == "demande" && mots.size() <= 1) {
        std::string requete = mots.empty() ? std::string(std::istreambuf_iterator<char>(std::cin), {}) : mots[0];
        return rendre(t.demande(requete));
    }
    if (verbe == "vue" && mots.size() == 1) {
        std::string jpeg;
        const Issue i = t.vue(jpeg);
        if (i.statut != 0) return rendre(i);
        if (!ecrireFichier(mots[0], jpeg, 0644)) return echec("impossible d’écrire " + mots[0], 2);
        return rendre(i);
    }
    if (verbe == "voir") {
        std::vector<std::string> flux, options;
        bool apres = false;
        for (const auto& m : mots) {
            if (!apres && m == "--") apres = true;
            else (apres ? options : flux).push_back(m);
        }
        if (flux.size() > 3) return usage();
        const int code = t.voir(flux, options, erreur);
        if (!erreur.empty()) echec(erreur, code);
        return code;
    }
    if (verbe == "fin" && mots.empty()) {
        const Issue i = t.fin();
        if (i.statut != 0) return echec(i.texte, 1);
        std::fprintf(stderr, "%s\n", i.texte.c_str());
        return 0;
    }
    if (verbe == "mcp" && mots.empty()) {
        PosteTechnicien poste(t);
        ServeurMcp serveur(poste);
        serveur.servir(std::cin, std::cout);
        return 0;
    }
    return usage();
}
