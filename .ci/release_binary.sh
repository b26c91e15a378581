#!/usr/bin/env bash
# The release build: its hardening, in the headers and in effect; faults
# injected into its writes; the typical road, natively and in an empty root;
# the whole suite against it; the packager's flags kept; the version written
# once.
. "$(dirname "$0")/lib.sh"
scratch
bin=build/release/argreport
logged "cmake --workflow --preset release" cmake --workflow --preset release || finish
tests/check_hardening.sh --static "$bin" || fail "tests/check_hardening.sh --static $bin"
tests/check_faults.sh "$bin" || fail "tests/check_faults.sh $bin"
road "$bin"

# With no C library or anything else installed around it: chroot, in a user
# namespace where it needs no root.
mkdir "$work/empty"
cp "$bin" "$work/empty/"
road /argreport unshare --user --map-root-user chroot "$work/empty"

# The suite, built by the dev preset, run against the release binary.
built dev || finish
logged "ARGREPORT_UNDER_TEST=$bin ctest --preset dev" env ARGREPORT_UNDER_TEST="$PWD/$bin" ctest --preset dev

# The release preset adds to the packager's CXXFLAGS and LDFLAGS.
CXXFLAGS=-DARGREPORT_PACKAGER_FLAG LDFLAGS=-Wl,-O1 cmake --preset release -B "$work/flags" >/dev/null
check "the release preset keeps the caller's CXXFLAGS, after its own" \
    grep -q -- '-fstack-protector-strong.*-DARGREPORT_PACKAGER_FLAG' "$work/flags/compile_commands.json"
check "the release preset keeps the caller's LDFLAGS, after its own" \
    grep -q -- '^CMAKE_EXE_LINKER_FLAGS:STRING=.*-z,now.*-Wl,-O1' "$work/flags/CMakeCache.txt"

# The version is written once, in project().
check "packaging/packages/changelog starts with an entry for $version" \
    grep -qE "^argreport \($version-0upstream[0-9]+\) unstable; urgency=medium\$" <(head -n 1 packaging/packages/changelog)
others=$(grep -oE '(argreport[-_:]|"version":")[0-9]+\.[0-9]+\.[0-9]+' README.md | grep -vE "[-_:\"]$version\$")
if [ -z "$others" ]; then ok "README.md names no version but $version"; else fail "README.md names other versions: $others"; fi
check "the man page's footer carries $version" \
    grep -qE "^\.TH ARGREPORT 1 [0-9]{4}-[0-9]{2}-[0-9]{2} \"argreport $version\"" build/release/argreport.1
has_note "$bin"
finish
