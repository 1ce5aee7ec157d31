// No H.264 engine in this build: the server falls back to tiles.
#include "stream/moteur.h"

namespace vimba::flux {
std::unique_ptr<Moteur> creerMoteurH264(const ContexteMoteur&) { return nullptr; }
}  // namespace vimba::flux
