# The control tests: the selection-screen viewer variant, and the viewers the program tests run.
if(NOT TARGET duoscope-pick)
    duoscope_viewer(duoscope-pick 0 0 0 1)
endif()
if(TARGET test_control_program)
    add_dependencies(test_control_program duoscope duoscope-pick)
endif()
