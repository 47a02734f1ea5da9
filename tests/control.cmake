# The viewer runs: the selection-screen variant, and the viewers the program tests start.
if(NOT TARGET duoscope-pick)
    duoscope_viewer(duoscope-pick 0 0 0 1)
endif()
foreach(t test_control_program test_program)
    add_dependencies(${t} duoscope duoscope-pick)
endforeach()
