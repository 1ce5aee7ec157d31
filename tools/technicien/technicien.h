// The technician's acts on a session: code, attendre, demande, vue, voir, fin. Used by the
// command line and the MCP server, one act at a time on the calling thread.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/technicien/configuration.h"
#include "tools/technicien/session.h"

namespace vimba::technicien {

// The support service, as the technician's side needs it. Failures: false and a French sentence.
class Service {
public:
    virtual ~Service() = default;
    struct Code {
        std::string code, session;
        std::int64_t expire = 0;
    };
    enum class Etat { attente, prete, fermee, expiree };
    virtual bool creerCode(const std::string& nom, const std::string& cle, Code& code, std::string& erreur) = 0;
    // One long poll of at most DELAI seconds; fills the session's relay and computer when ready.
    virtual bool attendre(Session& session, int delai, Etat& etat, std::string& erreur) = 0;
    virtual bool fermer(const Session& session, std::string& erreur) = 0;
};

// The SSH road to the computer: one control connection, then one command per act through it.
class Liaison {
public:
    virtual ~Liaison() = default;
    struct Resultat {
        int statut = -1;  // the gate's exit code, -1 when the link failed
        std::string sortie, erreur;
    };
    virtual bool ouvrir(Session& session, std::string& erreur) = 0;
    virtual bool ouverte(const Session& session) = 0;
    virtual Resultat executer(const Session& session, const std::string& commande, const std::string& entree) = 0;
    // Runs COMMANDE with FD as its standard input and output; the process id, or -1.
    virtual pid_t brancher(const Session& session, const std::string& commande, int fd) = 0;
    virtual void fermer(Session& session) = 0;
};

class Technicien {
public:
    Technicien(Configuration configuration, std::unique_ptr<Service> service, std::unique_ptr<Liaison> liaison);

    // A new code for the person to type; texte is the code alone.
    Issue code();
    // Waits until the computer is ready and the control connection is up; statut 2 when
    // DELAI seconds (0: until the code expires) went by first.
    Issue attendre(double delai, bool bavard);
    // Runs one request; texte is the reply exactly.
    Issue demande(const std::string& requete);
    // Takes a screenshot; JPEG receives its bytes.
    Issue vue(std::string& jpeg);
    // Starts the stream, bridges a loopback port to it and runs the viewer with OPTIONS; the
    // viewer's exit code.
    int voir(const std::vector<std::string>& mots, const std::vector<std::string>& options, std::string& erreur);
    Issue fin();

private:
    bool sessionPrete(Session& s, std::string& erreur);

    Configuration configuration_;
    std::unique_ptr<Service> service_;
    std::unique_ptr<Liaison> liaison_;
};

}  // namespace vimba::technicien
