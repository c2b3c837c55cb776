# The phone's tones, composed at build time and embedded in the device library, and the player
# stand-in "\Windows\qhandler.exe". Included from the root after the tests are defined.

include(${CMAKE_SOURCE_DIR}/device/tones/compose_tones.cmake)
tavonne_compose_tones(TAVONNE_PHONE_TONES)
target_sources(tavonne_device PRIVATE
    ${TAVONNE_PHONE_TONES}
    ${CMAKE_SOURCE_DIR}/device/player/tone_file.cpp)

# The player, installed under libexec/; programs that provision a device folder find it from
# where they run (bin/ in the build folder as once installed), and depend on it being built.
add_executable(qhandler ${CMAKE_SOURCE_DIR}/device/player/qhandler.cpp)
target_link_libraries(qhandler PRIVATE tavonne_device tavonne_sound)
set_target_properties(qhandler PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${TAVONNE_PLAYER_DIR})
file(RELATIVE_PATH player_from_program /${CMAKE_INSTALL_BINDIR} /${TAVONNE_PLAYER_DIR}/qhandler)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/device/tones.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS TAVONNE_PLAYER_FROM_PROGRAM="${player_from_program}")
add_dependencies(tavonne-device qhandler)
install(TARGETS qhandler DESTINATION ${TAVONNE_PLAYER_DIR})

foreach(test tones_test player_test)
    if(TARGET ${test})
        target_compile_definitions(${test} PRIVATE TAVONNE_PLAYER="$<TARGET_FILE:qhandler>")
        add_dependencies(${test} qhandler)
    endif()
endforeach()
