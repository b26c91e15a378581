# Builds against musl (Debian's musl-dev, of the target's architecture) with
# the system's gcc or a Debian cross gcc, for the target named by
# ARGREPORT_TARGET (Debian's name for the architecture; amd64 by default).
#
# The C driver, gcc, compiles and links the C++ source: it links no C++
# runtime, which the program does not use. musl's own wrapper and specs are
# not used, because they turn -static-pie into a dynamically linked PIE with
# musl's loader as interpreter; instead the headers come from musl's include
# directory alone, and -B makes the driver take musl's start files (rcrt1.o
# for a static PIE) and -L its libc.a, so the driver's own link rules stay in
# force.

# One row a target:
#   Debian arch | gcc triple | musl's directory | uname -m | RPM arch |
#   OCI platform | qemu | compile flags | link flags
# This table is the one list of the architectures: adding a target takes a
# row here, and nothing else. The first is the native one, built by the
# workflows release and package into build/release; the others by
# release-cross and package-cross into build/release-ARCH, for the ARCH that
# ARGREPORT_TARGET names in the environment:
#   ARGREPORT_TARGET=arm64 cmake --workflow --preset package-cross
# Run as a script, cmake -P cmake/musl.cmake, it prints the table for the
# scripts that go through every target: a line a target, its first seven
# fields, its build folder and its two workflows, separated by blanks.
set(ARGREPORT_TARGETS
    "amd64|x86_64-linux-gnu|x86_64-linux-musl|x86_64|x86_64|linux/amd64|x86_64||"
    # Return addresses are signed (pointer authentication); branch target
    # identification would need musl's objects to carry its marking too.
    "arm64|aarch64-linux-gnu|aarch64-linux-musl|aarch64|aarch64|linux/arm64|aarch64|-mbranch-protection=pac-ret|"
    # gcc 12's link rules for 32-bit ARM ignore -static-pie: they would ask
    # for a dynamic loader and libc.so.
    "armhf|arm-linux-gnueabihf|arm-linux-musleabihf|armv7l|armv7hl|linux/arm/v7|arm||-static-libgcc -Wl,-static,--no-dynamic-linker,-z,text"
    "i386|i686-linux-gnu|i386-linux-musl|i686|i686|linux/386|i386||"
    "ppc64el|powerpc64le-linux-gnu|powerpc64le-linux-musl|ppc64le|ppc64le|linux/ppc64le|ppc64le||"
    "s390x|s390x-linux-gnu|s390x-linux-musl|s390x|s390x|linux/s390x|s390x||")

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    cmake_policy(VERSION 3.25) # run with -P, no project() has set them
    foreach(row IN LISTS ARGREPORT_TARGETS)
        string(REPLACE "|" ";" row "${row}")
        list(SUBLIST row 0 7 fields)
        list(GET fields 0 arch)
        if(arch STREQUAL "amd64")
            list(APPEND fields build/release release package)
        else()
            list(APPEND fields build/release-${arch} release-cross package-cross)
        endif()
        list(JOIN fields " " line)
        execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${line}")
    endforeach()
    return()
endif()

set(ARGREPORT_TARGET amd64 CACHE STRING "The architecture to build for, as Debian names it")
# A fatal error here, inside project(), is followed by a second one of
# CMake's own, about the build program, that sends the reader astray: the
# message is left to CMakeLists.txt to give once project() is done, and the
# toolchain stops here.
macro(argreport_toolchain_error)
    string(CONCAT ARGREPORT_TOOLCHAIN_ERROR ${ARGV})
    return()
endmacro()
set(row "")
foreach(candidate IN LISTS ARGREPORT_TARGETS)
    if(candidate MATCHES "^${ARGREPORT_TARGET}\\|")
        set(row "${candidate}")
    endif()
endforeach()
if(NOT row)
    set(known "")
    foreach(candidate IN LISTS ARGREPORT_TARGETS)
        string(REGEX REPLACE "\\|.*" "" candidate "${candidate}")
        string(APPEND known " ${candidate}")
    endforeach()
    argreport_toolchain_error("ARGREPORT_TARGET=${ARGREPORT_TARGET} is none of the targets in "
        "${CMAKE_CURRENT_LIST_FILE}: set it to one of${known} (in the environment, for the presets release-cross and package-cross)")
endif()
string(REPLACE "|" ";" row "${row}")
list(GET row 1 triple)
list(GET row 2 musl)
list(GET row 3 ARGREPORT_ARCH)
list(GET row 4 ARGREPORT_RPM_ARCH)
list(GET row 5 ARGREPORT_OCI_PLATFORM)
list(GET row 6 qemu)
list(GET row 7 target_cflags)
list(GET row 8 target_ldflags)
set(ARGREPORT_DEB_ARCH "${ARGREPORT_TARGET}")

cmake_host_system_information(RESULT host_arch QUERY OS_PLATFORM)
set(names "${triple}-gcc")
if(host_arch STREQUAL ARGREPORT_ARCH)
    list(APPEND names gcc)
else()
    set(CMAKE_SYSTEM_NAME Linux)
    set(CMAKE_SYSTEM_PROCESSOR "${ARGREPORT_ARCH}")
    find_program(ARGREPORT_EMULATOR NAMES qemu-${qemu}-static qemu-${qemu})
    if(ARGREPORT_EMULATOR)
        set(CMAKE_CROSSCOMPILING_EMULATOR "${ARGREPORT_EMULATOR}")
    endif()
endif()

find_program(ARGREPORT_MUSL_GCC NAMES ${names})
if(NOT ARGREPORT_MUSL_GCC)
    argreport_toolchain_error("${triple}-gcc, the compiler for ${ARGREPORT_TARGET}, was not found "
        "(on Debian: apt-get install g++-${triple})")
endif()
set(CMAKE_CXX_COMPILER "${ARGREPORT_MUSL_GCC}")
# CMake does not derive these from a C driver used for C++.
find_program(CMAKE_STRIP NAMES ${triple}-strip strip REQUIRED)
find_program(CMAKE_OBJCOPY NAMES ${triple}-objcopy objcopy REQUIRED)

find_path(ARGREPORT_MUSL_LIBDIR rcrt1.o
    PATHS /usr/lib/${musl} /usr/lib/musl/lib /usr/local/musl/lib
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(ARGREPORT_MUSL_INCLUDEDIR stdio.h
    PATHS /usr/include/${musl} /usr/lib/musl/include /usr/local/musl/include
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT ARGREPORT_MUSL_LIBDIR OR NOT ARGREPORT_MUSL_INCLUDEDIR)
    argreport_toolchain_error("musl for ${ARGREPORT_TARGET} was not found "
        "(on Debian: apt-get install musl-dev:${ARGREPORT_TARGET})")
endif()
execute_process(COMMAND "${ARGREPORT_MUSL_GCC}" -print-file-name=include
    OUTPUT_VARIABLE gcc_includedir OUTPUT_STRIP_TRAILING_WHITESPACE)

# Appended to whatever CXXFLAGS and LDFLAGS the caller (or a preset) sets.
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc -isystem ${ARGREPORT_MUSL_INCLUDEDIR} -isystem ${gcc_includedir} ${target_cflags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${ARGREPORT_MUSL_LIBDIR}/ -L${ARGREPORT_MUSL_LIBDIR} ${target_ldflags}")
