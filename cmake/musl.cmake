# Builds against musl (Debian's musl-tools) with the system's gcc.
#
# The C driver, gcc, compiles and links the C++ source: it links no C++
# runtime, which the program does not use. musl's own wrapper and specs are
# not used, because they turn -static-pie into a dynamically linked PIE with
# musl's loader as interpreter; instead the headers come from musl's include
# directory alone, and -B makes the driver take musl's start files (rcrt1.o
# for a static PIE) and -L its libc.a, so the driver's own link rules stay in
# force.
find_program(ARGREPORT_MUSL_GCC NAMES x86_64-linux-gnu-gcc gcc REQUIRED)
set(CMAKE_CXX_COMPILER "${ARGREPORT_MUSL_GCC}")

find_path(ARGREPORT_MUSL_LIBDIR rcrt1.o
    PATHS /usr/lib/x86_64-linux-musl /usr/lib/musl/lib /usr/local/musl/lib
    NO_DEFAULT_PATH)
find_path(ARGREPORT_MUSL_INCLUDEDIR stdio.h
    PATHS /usr/include/x86_64-linux-musl /usr/lib/musl/include /usr/local/musl/include
    NO_DEFAULT_PATH)
if(NOT ARGREPORT_MUSL_LIBDIR OR NOT ARGREPORT_MUSL_INCLUDEDIR)
    message(FATAL_ERROR "musl was not found (on Debian: apt-get install musl-tools)")
endif()
execute_process(COMMAND "${ARGREPORT_MUSL_GCC}" -print-file-name=include
    OUTPUT_VARIABLE ARGREPORT_GCC_INCLUDEDIR OUTPUT_STRIP_TRAILING_WHITESPACE)

# Appended to whatever CXXFLAGS and LDFLAGS the caller (or a preset) sets.
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc -isystem ${ARGREPORT_MUSL_INCLUDEDIR} -isystem ${ARGREPORT_GCC_INCLUDEDIR}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${ARGREPORT_MUSL_LIBDIR}/ -L${ARGREPORT_MUSL_LIBDIR}")
