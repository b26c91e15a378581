#!/usr/bin/env bash
# The benchmark builds (it is run by hand: see the README), and clang-tidy
# and cppcheck find nothing in the program, the tests or the benchmark.
. "$(dirname "$0")/lib.sh"
built bench
# The one definition the build gives main.cpp, for the checks that run without it.
buffer=-DARGREPORT_BUFFER_SIZE=$(sed -n 's/^set(ARGREPORT_BUFFER_SIZE \([0-9]*\))$/\1/p' CMakeLists.txt)
# clang-tidy reads the compile commands of the clang build and the bench build.
logged "cmake --preset clang" cmake --preset clang
logged "clang-tidy on main.cpp and the tests" clang-tidy --quiet -p build/clang main.cpp tests/*.cpp
# The release's own code, which only musl's headers (no __GLIBC__) compile.
logged "clang-tidy on main.cpp against musl's headers" clang-tidy --quiet main.cpp -- -std=c++17 "$buffer" -nostdinc \
    -isystem /usr/include/x86_64-linux-musl -isystem "$(gcc -print-file-name=include)"
# The copy floor is freestanding and built with gcc-only flags: not checked.
logged "clang-tidy on the benchmark" clang-tidy --quiet -p build/bench bench/bench.cpp bench/stdio_report.cpp
logged "cppcheck" cppcheck --enable=warning,style,performance,portability --std=c++17 --language=c++ \
    --library=googletest --library=posix --error-exitcode=1 --inline-suppr \
    --suppress=missingIncludeSystem --quiet -DARGREPORT_PATH='"argreport"' \
    -DNOOP_PATH='"noop"' -DRELEASE_PATH='"r"' -DEXIT_PATH='"e"' -DCOPY_PATH='"c"' \
    -DSTDIO_PATH='"s"' -DSTDIO_MUSL_PATH='"m"' "$buffer" main.cpp tests/*.cpp bench/*.cpp
finish
