# libFuzzer targets. The project compiler is g++, which has no libFuzzer, so each fuzzer is
# compiled by clang++ through custom commands (one object per source, header dependencies kept
# through depfiles) and linked with -fsanitize=fuzzer,address,undefined.
#
#   zelm_fuzzer(NAME name SOURCES a.cpp ... [CORPUS dir] [SECONDS 60])
# SOURCES are relative to the calling folder or absolute; CORPUS (default: <name>_corpus next to
# the sources) holds the seed inputs. A CTest test "<name>" with the label "fuzz" runs the fuzzer
# for SECONDS (default 60); the binary and the inputs it finds stay in the build folder.
# Nothing is defined outside the Linux build or when clang++ is missing.
include_guard(GLOBAL)
find_program(ZELM_FUZZ_CXX NAMES clang++ clang++-14)

function(zelm_fuzzer)
    cmake_parse_arguments(ARG "" "NAME;CORPUS;SECONDS" "SOURCES" ${ARGN})
    if(WIN32 OR NOT ZELM_FUZZ_CXX)
        return()
    endif()
    if(NOT ARG_CORPUS)
        set(ARG_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_NAME}_corpus)
    endif()
    if(NOT ARG_SECONDS)
        set(ARG_SECONDS 60)
    endif()

    set(flags -std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
              -fno-sanitize-recover=all)
    # The project's warning policy applies here too.
    set(warnings "$<TARGET_PROPERTY:zelm_warnings,INTERFACE_COMPILE_OPTIONS>")
    set(workdir ${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.dir)
    set(objects)
    foreach(source IN LISTS ARG_SOURCES)
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
        cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE rel)
        set(object ${workdir}/${rel}.o)
        cmake_path(GET object PARENT_PATH objectDir)
        add_custom_command(OUTPUT ${object}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${objectDir}
            COMMAND ${ZELM_FUZZ_CXX} ${flags} ${warnings} -I${PROJECT_SOURCE_DIR}/src
                    -I${PROJECT_SOURCE_DIR}/tests -MD -MF ${object}.d -c ${source} -o ${object}
            DEPENDS ${source}
            DEPFILE ${object}.d
            COMMENT "Compiling ${rel} for the fuzzer ${ARG_NAME}"
            COMMAND_EXPAND_LISTS
            VERBATIM)
        list(APPEND objects ${object})
    endforeach()

    set(binary ${workdir}/${ARG_NAME})
    add_custom_command(OUTPUT ${binary}
        COMMAND ${ZELM_FUZZ_CXX} -fsanitize=fuzzer,address,undefined ${objects} -o ${binary}
        DEPENDS ${objects}
        COMMENT "Linking the fuzzer ${ARG_NAME}"
        VERBATIM)
    add_custom_target(${ARG_NAME} ALL DEPENDS ${binary})

    file(MAKE_DIRECTORY ${workdir}/corpus)
    add_test(NAME ${ARG_NAME}
             COMMAND ${binary} -max_total_time=${ARG_SECONDS} -timeout=10 -rss_limit_mb=2048
                     -print_final_stats=1 ${workdir}/corpus ${ARG_CORPUS})
    math(EXPR timeout "${ARG_SECONDS} * 2 + 60")
    set_tests_properties(${ARG_NAME} PROPERTIES LABELS fuzz TIMEOUT ${timeout})
endfunction()
