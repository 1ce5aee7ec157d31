#pragma once
// Runs the session script, plainly or with administrator rights through pkexec, and words
// its failures in French. Free functions without state; callable from any thread.
#include <sys/types.h>

#include <string>
#include <vector>

namespace vimba {

struct Resultat {
    bool ok = false;
    std::string sortie;
};

// The resources folder and the session script inside it, found once from the executable.
const std::string& ressources();
const std::string& scriptSession();

// Blocks until the script has ended.
Resultat lancer(const std::vector<std::string>& arguments, bool admin);

// The same with every path given, for the tests and for a relocated script.
struct Programmes {
    std::string script;
    std::string shell = "/bin/bash";
    std::string pkexec = "pkexec";
    // Besides root, the one account trusted to change the script: root in the product,
    // the tests' own account when they run unprivileged.
    uid_t administrateur = 0;
};
Resultat lancerAvec(const Programmes& p, const std::vector<std::string>& arguments, bool admin);

// Empty when the script and every folder above it can be changed by root (or
// `administrateur`) only, so that handing it to pkexec cannot lend root to anyone else;
// else the French sentence saying why. A sticky folder counts as closed: other accounts
// can add entries to it but neither rename nor replace root's (/tmp above a clone).
std::string risqueAdministrateur(const std::string& script, uid_t administrateur = 0);

std::string enClair(const std::string& echec);

// Leading and trailing white space and line ends removed.
std::string rogner(const std::string& texte);

}  // namespace vimba
