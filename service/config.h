#pragma once
// The service's configuration: a file of "cle=valeur" lines (default
// /etc/vimba-service/service.conf), each key overridable by a "--cle valeur" flag.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "service/service.h"

namespace vimba::service {

struct Config {
  std::map<std::string, std::string> valeurs;
  std::vector<std::string> arguments;  // what is left once the flags are taken out

  std::string valeur(const std::string& cle, const std::string& defaut = "") const;
};

// Reads the flags of argv (from index debut), then the file they or the default name.
// nullopt with the reason when the file is unreadable or a line or flag is malformed.
std::optional<Config> lire_config(int argc, char** argv, int debut, std::string& erreur);

// The relay, ports, lifetimes and limits; nullopt with the reason when a value is wrong.
std::optional<Reglages> reglages(const Config& c, std::string& erreur);

}  // namespace vimba::service
