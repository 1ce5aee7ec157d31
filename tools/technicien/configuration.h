// The technician's folder: service address and token, SSH key pair, the current session.
// Free functions; failures come back as a French sentence in `erreur`.
#pragma once

#include <optional>
#include <string>

#include "tools/technicien/session.h"

namespace vimba::technicien {

struct Configuration {
    std::string dossier;  // $XDG_CONFIG_HOME/vimba-technicien
    std::string adresse;
    std::string jeton;
    std::string nom;
    std::string ca;  // optional CA bundle for the service's certificate
};

// Reads service.conf, then the environment (VIMBA_SERVICE, VIMBA_JETON, VIMBA_NOM win).
// Creates the folder (0700) when missing.
std::optional<Configuration> lireConfiguration(std::string& erreur);

// Checks what talking to the service needs: an http(s) address (plain http only on loopback)
// and a token.
bool verifierService(const Configuration& c, std::string& erreur);

// Where the private key lives, made or not.
std::string cheminCle(const Configuration& c);
// Path of the private key, made with ssh-keygen on first use (both files 0600).
std::optional<std::string> clePrivee(const Configuration& c, std::string& erreur);
std::optional<std::string> clePublique(const Configuration& c, std::string& erreur);

// The current session, kept in session.json (0600, replaced atomically).
std::optional<Session> lireSession(const Configuration& c);
bool ecrireSession(const Configuration& c, const Session& s, std::string& erreur);
void oublierSession(const Configuration& c);

// Plain checks on what the service sends before it goes into an ssh_config file.
bool hoteValide(const std::string& hote);
bool compteValide(const std::string& compte);
bool cleValide(const std::string& cle);

// Writes CONTENU to CHEMIN through a temporary file and a rename, mode MODE: never half a file.
bool ecrireFichier(const std::string& chemin, const std::string& contenu, unsigned mode);

}  // namespace vimba::technicien
