# Window tests talk to their private X server through Xlib.
find_package(X11 REQUIRED)
target_link_libraries(duo_test_support PUBLIC X11::X11)
