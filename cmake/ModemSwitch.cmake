# Helpers shared by the top-level CMakeLists.txt.

# Flags every target of ours gets; third-party code (GoogleTest, Benchmark)
# is left alone.
function(modemswitch_target target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(MODEMSWITCH_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(WIN32)
        # std::min/std::max must not be clobbered by <windows.h> macros.
        target_compile_definitions(${target} PRIVATE NOMINMAX)
    endif()
    # Lets a program's link drop every function it does not call: the Windows
    # program's file, the Linux daemon's resident pages.
    target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections)
endfunction()

# Sources of a folder: DIR/*.cpp plus the platform subfolder, DIR/win32/*.cpp
# in the Windows build or DIR/posix/*.cpp in native builds.
function(modemswitch_glob out dir)
    if(WIN32)
        set(platform win32)
    else()
        set(platform posix)
    endif()
    file(GLOB sources CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/${dir}/*.cpp
        ${PROJECT_SOURCE_DIR}/${dir}/${platform}/*.cpp)
    list(SORT sources)
    set(${out} ${sources} PARENT_SCOPE)
endfunction()

# A layer library. With no sources yet it is an INTERFACE library, so
# configuring never fails on an empty folder and dependants still link.
function(modemswitch_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
    if(ARG_SOURCES)
        add_library(${name} STATIC ${ARG_SOURCES})
        target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} PUBLIC ${ARG_LINK})
        modemswitch_target(${name})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE ${ARG_LINK})
        target_compile_features(${name} INTERFACE cxx_std_20)
    endif()
endfunction()

# Where test code finds the source tree, in a form the test program itself
# can open: under Wine the Unix root is drive Z:.
function(modemswitch_test_paths target)
    if(WIN32)
        set(src "Z:${PROJECT_SOURCE_DIR}")
        set(bin "Z:${PROJECT_BINARY_DIR}")
    else()
        set(src "${PROJECT_SOURCE_DIR}")
        set(bin "${PROJECT_BINARY_DIR}")
    endif()
    target_compile_definitions(${target} PRIVATE
        MODEMSWITCH_SOURCE_DIR="${src}"
        MODEMSWITCH_BINARY_DIR="${bin}")
endfunction()

# bench/dispatch_bench.cpp and bench/bench_dispatch.cpp both give "dispatch".
function(modemswitch_short_name out source kind)
    get_filename_component(name ${source} NAME_WE)
    string(REGEX REPLACE "^${kind}_|_${kind}$" "" name ${name})
    set(${out} ${name} PARENT_SCOPE)
endfunction()
