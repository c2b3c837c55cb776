# tavonne_add_resources(<target> <file.rc> [PROGRAM] [INCLUDE <folder>...])
#
# Compiles a resource script with llvm-rc and links the compiled .res into <target>, where the
# platform finds it before main() runs: resources::ModuleNamed("<file>") gives its module, and
# GetModuleHandleW(NULL) does too when it is the target's only .res or is marked PROGRAM.
#
# The script is preprocessed by the C compiler (llvm-rc 14 looks for a clang beside itself, which
# a fresh machine may not have), with RC_INVOKED defined and the platform's Win32 headers on the
# include path (and the INCLUDE folders); it is read as UTF-8. The input comes after "--": llvm-rc takes its options with a
# slash, so an absolute path such as /check/... would otherwise be read as the option /C.

find_program(TAVONNE_LLVM_RC NAMES llvm-rc-14 llvm-rc PATHS /usr/lib/llvm-14/bin REQUIRED)
set(TAVONNE_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake)

function(tavonne_add_resources target rc_file)
    cmake_parse_arguments(PARSE_ARGV 2 arg "PROGRAM" "" "INCLUDE")
    get_filename_component(rc_path ${rc_file} ABSOLUTE)
    get_filename_component(rc_name ${rc_path} NAME_WE)
    get_filename_component(rc_dir ${rc_path} DIRECTORY)
    set(is_program 0)
    if(arg_PROGRAM)
        set(is_program 1)
    endif()
    list(TRANSFORM arg_INCLUDE PREPEND -I OUTPUT_VARIABLE include_flags)
    set(library tavonne_res_${rc_name})
    if(arg_PROGRAM)
        set(library ${library}_program)
    endif()
    # Each script is compiled once, whatever the number of targets that embed it.
    if(NOT TARGET ${library})
        set(out ${CMAKE_BINARY_DIR}/resources/${library})
        set(preprocessed ${out}.rc.i)
        set(res ${out}.res)
        set(source ${out}${is_program}.res.cpp)
        add_custom_command(OUTPUT ${res}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/resources
            COMMAND ${CMAKE_C_COMPILER} -E -P -xc -DRC_INVOKED -MD -MF ${out}.d -MT ${res}
                    -I${rc_dir} ${include_flags} -I${CMAKE_SOURCE_DIR}/platform/include
                    -I${CMAKE_SOURCE_DIR}/sdk/include ${rc_path}
                    -o ${preprocessed}
            COMMAND ${TAVONNE_LLVM_RC} /no-preprocess /C 65001 /I ${rc_dir} /FO ${res}
                    -- ${preprocessed}
            MAIN_DEPENDENCY ${rc_path}
            DEPFILE ${out}.d
            COMMENT "Compiling resources ${rc_name}.rc"
            VERBATIM)
        add_custom_command(OUTPUT ${source}
            COMMAND ${CMAKE_COMMAND} -DRES=${res} -DOUT=${source} -DNAME=${rc_name}
                    -DPROGRAM=${is_program} -P ${TAVONNE_EMBED_SCRIPT}
            DEPENDS ${res} ${TAVONNE_EMBED_SCRIPT}
            VERBATIM)
        add_library(${library} OBJECT ${source})
    endif()
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${library}>)
endfunction()
