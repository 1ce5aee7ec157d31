# The main output, sway's view of the desktop, the application in front (agent/wayland/sortie.h, sway.h).
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
pkg_get_variable(VIMBA_WL_PROTOCOLES wayland-protocols pkgdatadir)
set(vimba_xdg_sortie_xml ${VIMBA_WL_PROTOCOLES}/unstable/xdg-output/xdg-output-unstable-v1.xml)
set(vimba_devant_gen ${CMAKE_CURRENT_BINARY_DIR}/devant)
add_custom_command(
  OUTPUT ${vimba_devant_gen}/xdg-output-unstable-v1-client-protocol.h ${vimba_devant_gen}/xdg-output-unstable-v1.c
  COMMAND ${CMAKE_COMMAND} -E make_directory ${vimba_devant_gen}
  COMMAND ${WAYLAND_SCANNER} client-header ${vimba_xdg_sortie_xml} ${vimba_devant_gen}/xdg-output-unstable-v1-client-protocol.h
  COMMAND ${WAYLAND_SCANNER} private-code ${vimba_xdg_sortie_xml} ${vimba_devant_gen}/xdg-output-unstable-v1.c
  DEPENDS ${vimba_xdg_sortie_xml})

find_package(nlohmann_json 3 REQUIRED)
add_library(vimba_wl_sortie STATIC sortie.cpp sway.cpp ${vimba_devant_gen}/xdg-output-unstable-v1.c)
target_include_directories(vimba_wl_sortie PUBLIC ${PROJECT_SOURCE_DIR} PRIVATE ${vimba_devant_gen})
target_link_libraries(vimba_wl_sortie PUBLIC PkgConfig::WAYLAND PRIVATE nlohmann_json::nlohmann_json)

# The agent's services on Wayland: guards, clipboard, reader (agent/wayland/fabrique_wayland.h).
# It calls the X11 adapters' display-independent AT-SPI helpers (in vimba_systeme, which
# links it back: a cycle of static libraries CMake repeats on the link line).
pkg_check_modules(GIO_UNIX REQUIRED IMPORTED_TARGET gio-unix-2.0)
add_library(vimba_wl_devant STATIC gardes_wayland.cpp presse_wayland.cpp lecture_wayland.cpp)
target_link_libraries(vimba_wl_devant PUBLIC vimba_wl_sortie vimba_x11 vimba_lecture PkgConfig::ATSPI
  PkgConfig::GIO_UNIX PRIVATE vimba_systeme vimba_lancer)
# The reader's factory (reading/) hands over to lecture_wayland.cpp on Wayland.
target_link_libraries(vimba_lecture PUBLIC vimba_wl_devant)
