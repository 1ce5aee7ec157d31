#pragma once
// Permissions on a Wayland session: the screen is the portal's grant, input needs the
// accessibility bus and a way in (the wlroots virtual devices, or the portal's input).
#include <memory>

#include "agent/services.h"

namespace vimba::wayland {

std::unique_ptr<Permissions> creerPermissionsWayland();

}  // namespace vimba::wayland
