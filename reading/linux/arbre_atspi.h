#pragma once
// The accessibility tree of one application over AT-SPI's D-Bus interface. Queries are
// sent ahead of the walk (a node's role and properties together, the rest once they say
// it is needed; the next siblings, the first children and the listed nodes' frames while
// the walk is busy elsewhere) so most of them cost no round trip of their own. A walk
// into the hidden parts first takes what the application's cache says of its whole tree
// in one answer. Main thread; the tree lives for one walk.
#include <memory>

#include "reading/arbre.h"

namespace vimba::lecture {

inline constexpr int delaiRequeteMs = 2000;

// The tree of the application of that process, frames relative to the main display, or
// null when the accessibility bus or the application cannot be reached.
std::unique_ptr<Arbre> arbreApplication(int pid, int delaiMs = delaiRequeteMs);

}  // namespace vimba::lecture
