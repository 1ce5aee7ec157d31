// Running the helper programs (ssh, ssh-keygen, the viewer) without a shell in between.
// Free functions, safe from any thread; nothing here throws.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vimba::technicien {

struct Sortie {
    int statut = -1;  // exit code; -1 when the program could not start, was killed or ran out of time
    std::string sortie;
    std::string erreurs;
};

// Runs ARGV to its end with ENTREE on standard input, both outputs collected. After LIMITE
// seconds (0: none) the program is killed.
Sortie executer(const std::vector<std::string>& argv, const std::string& entree = {}, double limite = 0);

// Starts ARGV with the given descriptors as its standard input, output and error (-1: /dev/null).
// Returns the process id, or -1.
pid_t lancer(const std::vector<std::string>& argv, int entree, int sortie, int erreurs);

// Waits for PID at most LIMITE seconds (0: no limit), killing it after that. Exit code, or -1.
int attendreFin(pid_t pid, double limite = 0);

}  // namespace vimba::technicien
