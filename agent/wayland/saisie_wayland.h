#pragma once
// Input on a Wayland session: the wlroots virtual devices, the RemoteDesktop portal on
// GNOME and KDE. Null when neither answers, and the caller keeps what it had.
#include <memory>

#include "agent/services.h"

namespace vimba::wayland {

std::unique_ptr<Saisie> creerSaisieWayland();

}  // namespace vimba::wayland
