# The programs that make sources while Tavonne is built. They run on the build machine;
# cmake/BuildMachinePrograms.cmake says where they are built.
set(TAVONNE_GENERATORS_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

# The text helpers' case-fold table, from the C library's C.UTF-8 mapping: the programs never read
# the host's locales for it.
add_executable(generate_fold_table ${TAVONNE_GENERATORS_ROOT}/base/casefold/generate_fold_table.cpp)

# The phone's tones, composed and checked with the player's own check, written as a C++ source.
add_executable(tavonne-tonegen
    ${TAVONNE_GENERATORS_ROOT}/device/tones/generate_tones.cpp
    ${TAVONNE_GENERATORS_ROOT}/device/tones/compose.cpp
    ${TAVONNE_GENERATORS_ROOT}/device/tones/synth.cpp
    ${TAVONNE_GENERATORS_ROOT}/device/tone_file.cpp)
target_include_directories(tavonne-tonegen PRIVATE ${TAVONNE_GENERATORS_ROOT})
