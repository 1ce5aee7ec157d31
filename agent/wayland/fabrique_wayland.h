#pragma once
// The Wayland adapters of the agent's services; each X11 factory hands over to these when
// the session is Wayland (agent/bureau.h).
#include <memory>

#include "agent/services.h"

namespace vimba::wayland {

std::unique_ptr<Gardes> creerGardesWayland();          // gardes_wayland.cpp
std::unique_ptr<PressePapiers> creerPresseWayland();   // presse_wayland.cpp
std::unique_ptr<Lecture> creerLectureWayland();        // lecture_wayland.cpp

}  // namespace vimba::wayland
