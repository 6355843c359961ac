# Build-time commands (sound-bank tool, integrity stamper, resource generator) must run on the
# build machine. In the native build they are ordinary executables; in the cross build they are
# compiled with the build machine's own compiler through a custom command.
#
#   zelm_host_tool(NAME name SOURCES a.cpp b.cpp)
# sets the cache entry ZELM_HOST_TOOL_<name> to the runnable tool and defines a target
# host_tool_<name> to depend on.
find_program(ZELM_HOST_CXX NAMES c++ g++ REQUIRED)

function(zelm_host_tool)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES" ${ARGN})
    set(srcs)
    foreach(s IN LISTS ARG_SOURCES)
        list(APPEND srcs ${CMAKE_CURRENT_SOURCE_DIR}/${s})
    endforeach()
    if(CMAKE_CROSSCOMPILING)
        set(out ${CMAKE_BINARY_DIR}/host/${ARG_NAME})
        add_custom_command(OUTPUT ${out}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
            COMMAND ${ZELM_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -Werror
                    -I${PROJECT_SOURCE_DIR}/src -I${PROJECT_SOURCE_DIR}/tools ${srcs} -o ${out}
            DEPENDS ${srcs}
            COMMENT "Building build-machine tool ${ARG_NAME}"
            VERBATIM)
        add_custom_target(host_tool_${ARG_NAME} DEPENDS ${out})
    else()
        add_executable(${ARG_NAME} ${srcs})
        target_include_directories(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src
                                                       ${PROJECT_SOURCE_DIR}/tools)
        target_link_libraries(${ARG_NAME} PRIVATE zelm_warnings)
        add_custom_target(host_tool_${ARG_NAME} DEPENDS ${ARG_NAME})
        set(out $<TARGET_FILE:${ARG_NAME}>)
    endif()
    set(ZELM_HOST_TOOL_${ARG_NAME} ${out} CACHE INTERNAL "Runnable build-machine tool")
endfunction()
