# Pointer and keyboard on Wayland (agent/wayland/saisie_*.h): the wlroots virtual devices
# with a keymap of our own, the RemoteDesktop portal elsewhere.
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon)
set(vimba_saisie_gen ${CMAKE_CURRENT_BINARY_DIR}/saisie)
set(vimba_saisie_c)
foreach(protocole wlr-virtual-pointer-unstable-v1 virtual-keyboard-unstable-v1)
  set(xml ${CMAKE_CURRENT_SOURCE_DIR}/protocoles/${protocole}.xml)
  add_custom_command(
    OUTPUT ${vimba_saisie_gen}/${protocole}-client-protocol.h ${vimba_saisie_gen}/${protocole}.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${vimba_saisie_gen}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${vimba_saisie_gen}/${protocole}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${vimba_saisie_gen}/${protocole}.c
    DEPENDS ${xml})
  list(APPEND vimba_saisie_c ${vimba_saisie_gen}/${protocole}.c ${vimba_saisie_gen}/${protocole}-client-protocol.h)
endforeach()

# The keymap we upload: pure logic, tested alone.
add_library(vimba_clavier_xkb STATIC clavier_xkb.cpp)
target_include_directories(vimba_clavier_xkb PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vimba_clavier_xkb PUBLIC PkgConfig::XKBCOMMON)

add_library(vimba_saisie_wayland STATIC rythme.cpp saisie_wlroots.cpp saisie_portail.cpp saisie_wayland.cpp
  ${vimba_saisie_c})
target_include_directories(vimba_saisie_wayland PUBLIC ${PROJECT_SOURCE_DIR} PRIVATE ${vimba_saisie_gen})
target_link_libraries(vimba_saisie_wayland PUBLIC vimba_clavier_xkb vimba_wl_sortie vimba_wl_portail vimba_wl_devant vimba_x11 vimba_bureau
  PkgConfig::WAYLAND PkgConfig::GLIB)
