# The portal session (ScreenCast, RemoteDesktop) and the pictures of its PipeWire stream.
# With what the session lets the agent do (permissions_wayland.h), reached from creerPermissions.
add_library(vimba_wl_portail STATIC portail.cpp permissions_wayland.cpp)
target_include_directories(vimba_wl_portail PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vimba_wl_portail PUBLIC vimba_bureau PkgConfig::GLIB PkgConfig::WAYLAND)

find_library(YUV_PORTAIL yuv REQUIRED)
add_library(vimba_wl_images STATIC images.cpp)
target_link_libraries(vimba_wl_images PUBLIC vimba_wl_portail vimba_wl_sortie PkgConfig::PIPEWIRE ${YUV_PORTAIL} Threads::Threads)

