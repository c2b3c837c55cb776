# The phone's tones, composed at build time: tavonne-tonegen writes them as a C++ source, whose
# path is put in `out`. A cross build runs the composer under its emulator. Call it from the
# folder whose targets compile the source.
function(tavonne_compose_tones out)
    add_executable(tavonne-tonegen
        ${CMAKE_SOURCE_DIR}/device/tones/generate_tones.cpp
        ${CMAKE_SOURCE_DIR}/device/tones/compose.cpp
        ${CMAKE_SOURCE_DIR}/device/tones/synth.cpp
        ${CMAKE_SOURCE_DIR}/device/player/tone_file.cpp)
    target_include_directories(tavonne-tonegen PRIVATE ${CMAKE_SOURCE_DIR})
    set(tones ${CMAKE_BINARY_DIR}/generated/phone_tones.cpp)
    add_custom_command(OUTPUT ${tones}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
        COMMAND tavonne-tonegen ${tones}
        DEPENDS tavonne-tonegen
        COMMENT "Composing the phone's tones"
        VERBATIM)
    set(${out} ${tones} PARENT_SCOPE)
endfunction()
