# The programs of cmake/Generators.cmake run while Tavonne is built, on the machine that builds it.
# A native build makes them as targets of its own. A cross build (Windows from Linux) makes them
# with the build machine's compiler in a build of their own, cmake/build-machine/, so that nothing
# made for the target machine runs during the build.
#
# tavonne_generate(<output> <program>) runs `<program> <output>` to make <output>.

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)

if(NOT CMAKE_CROSSCOMPILING)
    include(${CMAKE_CURRENT_LIST_DIR}/Generators.cmake)

    function(tavonne_generate output program)
        add_custom_command(OUTPUT ${output} COMMAND ${program} ${output} DEPENDS ${program}
                           VERBATIM)
    endfunction()
else()
    include(ExternalProject)
    set(TAVONNE_BUILD_MACHINE_DIR ${CMAKE_BINARY_DIR}/build-machine)
    ExternalProject_Add(build-machine-programs
        SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/build-machine
        BINARY_DIR ${TAVONNE_BUILD_MACHINE_DIR}
        CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
                   -DCMAKE_RUNTIME_OUTPUT_DIRECTORY=${TAVONNE_BUILD_MACHINE_DIR}/bin
        INSTALL_COMMAND ""
        # Its own build decides what is out of date.
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS ${TAVONNE_BUILD_MACHINE_DIR}/bin/generate_fold_table
                         ${TAVONNE_BUILD_MACHINE_DIR}/bin/tavonne-tonegen)

    function(tavonne_generate output program)
        set(built ${TAVONNE_BUILD_MACHINE_DIR}/bin/${program})
        add_custom_command(OUTPUT ${output} COMMAND ${built} ${output}
                           DEPENDS ${built} build-machine-programs VERBATIM)
    endfunction()
endif()
