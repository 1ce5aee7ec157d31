#pragma once
// Builds the real desktop services. Each function is defined by the folder that owns
// the service, so adding a platform means adding an implementation, not editing callers.
#include <memory>
#include <string>

#include "agent/services.h"

namespace vimba {

std::unique_ptr<Saisie> creerSaisie();              // agent/linux
std::unique_ptr<Gardes> creerGardes();              // agent/linux
std::unique_ptr<Permissions> creerPermissions();    // agent/linux
std::unique_ptr<PressePapiers> creerPressePapiers();  // agent/linux
std::unique_ptr<Lecture> creerLecture();            // reading/
std::unique_ptr<Photographe> creerPhotographe(const std::string& dossier);  // reading/
std::unique_ptr<Marquage> creerMarqueur();          // marker/
std::unique_ptr<Diffusion> creerDiffuseur();        // stream/

// Every real service, with posting and pausing on the GLib main loop.
Services servicesDuSysteme(const std::string& dossier);

}  // namespace vimba
