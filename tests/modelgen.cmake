# test_modelgen checks the generator's models through its library and runs the generator
# itself to compare its output with the committed data/ files.
if(TARGET test_modelgen AND TARGET duoscope-modelgen)
    target_link_libraries(test_modelgen PRIVATE duo_modelgen)
    target_compile_definitions(test_modelgen PRIVATE
        DUO_MODELGEN_EXE="$<TARGET_FILE:duoscope-modelgen>")
    add_dependencies(test_modelgen duoscope-modelgen)
endif()
