# The phone's tones, composed at build time and embedded in the device library, and the player
# stand-in "\Windows\qhandler.exe". Included from the root after the tests are defined.

add_executable(tavonne-tonegen
    ${CMAKE_SOURCE_DIR}/device/tones/generate_tones.cpp
    ${CMAKE_SOURCE_DIR}/device/tones/compose.cpp
    ${CMAKE_SOURCE_DIR}/device/tones/synth.cpp
    ${CMAKE_SOURCE_DIR}/device/player/tone_file.cpp)
target_include_directories(tavonne-tonegen PRIVATE ${CMAKE_SOURCE_DIR})

set(TAVONNE_PHONE_TONES ${CMAKE_BINARY_DIR}/generated/phone_tones.cpp)
add_custom_command(OUTPUT ${TAVONNE_PHONE_TONES}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
    COMMAND tavonne-tonegen ${TAVONNE_PHONE_TONES}
    DEPENDS tavonne-tonegen
    COMMENT "Composing the phone's tones"
    VERBATIM)
target_sources(tavonne_device PRIVATE
    ${TAVONNE_PHONE_TONES}
    ${CMAKE_SOURCE_DIR}/device/player/tone_file.cpp)

# The player links the device library, so the device only knows where the build puts it; programs
# that provision a device folder depend on it being built (see PlayerBinary()).
add_executable(qhandler ${CMAKE_SOURCE_DIR}/device/player/qhandler.cpp)
target_link_libraries(qhandler PRIVATE tavonne_device)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/device/tones.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS TAVONNE_PLAYER_BUILD_PATH="$<TARGET_FILE:qhandler>")
add_dependencies(tavonne-device qhandler)

foreach(test tones_test player_test)
    if(TARGET ${test})
        target_compile_definitions(${test} PRIVATE TAVONNE_PLAYER="$<TARGET_FILE:qhandler>")
        add_dependencies(${test} qhandler)
    endif()
endforeach()
