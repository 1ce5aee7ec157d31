// A Model Context Protocol server on standard input/output (JSON-RPC 2.0, one message a
// line): the command language's verbs as tools, so that an AI can be the technician.
// Single-threaded: one message answered before the next is read.
#pragma once

#include <iosfwd>
#include <string>

#include "tools/technicien/session.h"

namespace vimba::technicien {

// What the server needs from the technician's side.
class Poste {
public:
    virtual ~Poste() = default;
    virtual Issue code() = 0;
    virtual Issue attendre(double delai) = 0;
    virtual Issue fin() = 0;
    virtual Issue demande(const std::string& requete) = 0;
    virtual Issue vue(std::string& jpeg) = 0;
};

class ServeurMcp {
public:
    explicit ServeurMcp(Poste& poste);
    // One line in, the line to send back (without its line feed), empty when none is due.
    std::string traiter(const std::string& ligne);
    // Answers every line of ENTREE until it ends.
    void servir(std::istream& entree, std::ostream& sortie);

private:
    Poste& poste_;
};

}  // namespace vimba::technicien
