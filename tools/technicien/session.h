// What the technician's side knows about a session, as the support service described it.
// Plain values; the same in the service client, the SSH link and the saved state.
#pragma once

#include <cstdint>
#include <string>

namespace vimba::technicien {

struct Relais {
    std::string hote;
    int port = 22;
    std::string compte;
    std::string cleHote;
    int portTunnel = 0;
};

struct Ordinateur {
    int portTunnel = 0;
    std::string cleHote;
    std::string compte;
};

struct Session {
    std::string adresse;  // the service that made the code
    std::string id;
    std::string code;
    std::int64_t expire = 0;
    bool prete = false;
    Relais relais;
    Ordinateur ordinateur;
    std::string execution;  // private folder of the SSH link: its configuration, pinned keys, control socket
};

// The outcome of one act, for a person or an AI alike: 0 done ("ok …" replies), 1 refused or
// failed ("erreur …", "refus …" replies and the tool's own failures), 2 no reply came.
struct Issue {
    int statut = 0;
    std::string texte;
};

}  // namespace vimba::technicien
