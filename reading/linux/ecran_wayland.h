#pragma once
// The main output of a Wayland session, read from the portal's screen stream.
#include <memory>

#include "reading/photo.h"

namespace vimba::photo {

// Readable once the portal granted the stream; pictures in the output's logical pixels.
std::unique_ptr<Ecran> ecranWayland();

}  // namespace vimba::photo
