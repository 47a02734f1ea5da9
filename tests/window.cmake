# Window tests talk to their private X server through Xlib, and count the frames a window shows
# through the DAMAGE extension.
find_package(X11 REQUIRED)
if(NOT X11_Xdamage_FOUND)
    message(FATAL_ERROR "libxdamage-dev is missing; scripts/setup.sh installs it")
endif()
target_link_libraries(duo_test_support PUBLIC X11::X11 X11::Xdamage)
