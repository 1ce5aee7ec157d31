#pragma once
// File operations on the request folder. Nothing is followed through a symbolic link:
// every entry is opened relative to the folder with O_NOFOLLOW.
#include <optional>
#include <string>
#include <vector>

namespace vimba::dossier {

// Names in the folder, or none when it cannot be listed.
std::optional<std::vector<std::string>> lister(const std::string& dossier);

enum class Lecture { Lue, Absente, PasUnFichier, Illisible };
// Reads a regular file whole without blocking on FIFOs or devices.
Lecture lireFichier(const std::string& dossier, const std::string& nom, std::string& contenu);

bool supprimer(const std::string& dossier, const std::string& nom);
// Removes whatever the entry is (file, link, FIFO, empty directory).
bool retirer(const std::string& dossier, const std::string& nom);
// Writes through a hidden temporary name, then renames onto nom (replacing a link, never
// writing through it), so that a reader sees the whole text or nothing.
bool ecrireAtomique(const std::string& dossier, const std::string& nom, const std::string& contenu);

}  // namespace vimba::dossier
