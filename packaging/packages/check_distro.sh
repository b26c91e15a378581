#!/usr/bin/env bash
# What a distribution meets when it builds the source release as it builds
# everything else, and what the upstream RPM carries:
#   - a build without presets, given a distribution's flags and package
#     note, keeps them, adds no prefix map of its own, and finds the tests;
#     one clear error when GoogleTest or musl is missing;
#   - rpmbuild -ta on the source tarball, with Fedora's cmake macros, flags,
#     awk and dist tag, builds and runs the tests in %check; rpmlint on its
#     packages; without a dist tag it refuses to build;
#   - a throwaway debian/ (debhelper 13, dh, cmake) builds the tarball with
#     dpkg-buildpackage and runs the tests in dh_auto_test; lintian;
#   - the upstream (static) RPM provides bundled(musl), cannot be relocated
#     and names a source RPM that the dist target built.
# Needs cmake, g++, libgtest-dev, musl-dev, rpm, rpmlint, debhelper, lintian,
# gawk, and root for unshare -m (which hides musl).
#   packaging/packages/check_distro.sh
# shellcheck source=.ci/lib.sh
. "$(dirname "$0")/../../.ci/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
note='{"type":"rpm","name":"argreport"}'

# --- A build without presets, given a distribution's flags and note.
plain=$work/plain
CXXFLAGS="-O2 -g -DARGREPORT_DISTRIBUTION_FLAG" LDFLAGS="-Wl,-z,now -Xlinker --package-metadata=$note" \
    cmake -S . -B "$plain" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBUILD_TESTING=OFF >"$work/plain.log" 2>&1 \
    && cmake --build "$plain" >>"$work/plain.log" 2>&1 || { cat "$work/plain.log"; fail "the plain build"; }
notes() { readelf -nW "$1" | sed -n 's/.*Packaging Metadata: //p'; }
check "a plain build given LDFLAGS='-Xlinker --package-metadata=$note' carries that note and no other" \
    test "$(notes "$plain/argreport")" = "$note"
check "configuring says the note of LDFLAGS is the binary's" \
    grep -qF "the package note given in LDFLAGS is the binary's: $note" "$work/plain.log"
check "a plain build's compile commands have no -ffile-prefix-map of the project's own" \
    bash -c '! grep -q -- -ffile-prefix-map "$1"' _ "$plain/compile_commands.json"
check "a plain build compiles with the caller's CXXFLAGS" \
    grep -q -- '-O2 -g -DARGREPORT_DISTRIBUTION_FLAG' "$plain/compile_commands.json"
check "a plain build adds no package note of its own" grep -qx 'ARGREPORT_PACKAGE_NOTE:BOOL=OFF' "$plain/CMakeCache.txt"
# The release preset, which adds its own note, keeps the caller's instead.
preset_tree=$work/release
LDFLAGS="-Xlinker --package-metadata=$note" cmake --preset release -B "$preset_tree" >"$work/release.log" 2>&1 \
    && cmake --build "$preset_tree" >>"$work/release.log" 2>&1 || { cat "$work/release.log"; fail "the release preset with a note"; }
check "the release preset given a note in LDFLAGS carries that note and no other" \
    test "$(notes "$preset_tree/argreport")" = "$note"
# As Debian's dh-package-notes gives it: a specs file, named in LDFLAGS,
# whose link rule adds the note to every link, ahead of the link's own
# options.
cat >"$work/package-notes.specs" <<'EOF'
*link:
+ --package-metadata={\"type\":\"deb\",\"name\":\"%:getenv(DEB_SOURCE_PACKAGE_NAME \",\"version\":\"%:getenv(DEB_SOURCE_PACKAGE_VERSION \"}))
EOF
export DEB_SOURCE_PACKAGE_NAME=argreport DEB_SOURCE_PACKAGE_VERSION=$release-1
LDFLAGS="-specs=$work/package-notes.specs" cmake --preset release -B "$work/specs" >"$work/specs.log" 2>&1 \
    && cmake --build "$work/specs" >>"$work/specs.log" 2>&1 || { cat "$work/specs.log"; fail "the release preset with a note in a specs file"; }
check "the release preset given a note through -specs=, as dh-package-notes gives it, carries that note and no other" \
    test "$(notes "$work/specs/argreport")" = "{\"type\":\"deb\",\"name\":\"argreport\",\"version\":\"$release-1\"}"
unset DEB_SOURCE_PACKAGE_NAME DEB_SOURCE_PACKAGE_VERSION
check "the release preset turns the tests off" grep -qx 'BUILD_TESTING:BOOL=OFF' "$preset_tree/CMakeCache.txt"
check "the release preset maps the build's paths" grep -q -- '-ffile-prefix-map=' "$preset_tree/compile_commands.json"

# --- One clear error each when GoogleTest or musl is missing.
one_error() { # log, what the message must name...
    local log=$1
    shift
    [ "$(grep -c 'CMake Error' "$log")" = 1 ] || return 1
    for word in "$@"; do tr -s ' \n' ' ' <"$log" | grep -qF -- "$word" || return 1; done
}
cmake -S . -B "$work/nogtest" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$work/nogtest.log" 2>&1
check "without GoogleTest, a plain build stops with one error naming the package and the switch" \
    one_error "$work/nogtest.log" libgtest-dev gtest-devel -DBUILD_TESTING=OFF
unshare -m sh -c 'mount -t tmpfs none /usr/lib/x86_64-linux-musl && mount -t tmpfs none /usr/include/x86_64-linux-musl &&
    exec cmake --preset release -B "$1"' _ "$work/nomusl" >"$work/nomusl.log" 2>&1
check "without musl, the release preset stops with one error naming musl-dev" \
    one_error "$work/nomusl.log" 'musl for amd64 was not found' 'apt-get install musl-dev:amd64'

# --- The source release, and rpmbuild -ta on it as Fedora builds: its cmake
# macros, its flags with the package note in LDFLAGS, gawk as awk, and the
# binaries stripped, as the split of their debugging information does there.
cmake --workflow --preset dist >"$work/dist.log" 2>&1 || { cat "$work/dist.log"; fail "the dist workflow"; }
cmake --workflow --preset package >"$work/package.log" 2>&1 || { cat "$work/package.log"; fail "the package workflow"; }
upstream=build/release/packages/argreport-$package_version.$(uname -m).rpm
tarball=build/dist/argreport-$release.tar.gz
srpm=build/dist/argreport-$package_version.src.rpm
cat >"$work/fedora.macros" <<'EOF'
%dist .fc40
%_vpath_srcdir .
%_vpath_builddir %{_vendor}-%{_target_os}-build
%build_cflags -O2 -flto=auto -ffat-lto-objects -fexceptions -g -grecord-gcc-switches -pipe -Wall -Werror=format-security -Wp,-U_FORTIFY_SOURCE,-D_FORTIFY_SOURCE=3 -Wp,-D_GLIBCXX_ASSERTIONS -fstack-protector-strong -mtune=generic -fasynchronous-unwind-tables -fstack-clash-protection
%build_cxxflags %{build_cflags}
%build_ldflags -Wl,-z,relro -Wl,--as-needed -Wl,-z,now -Xlinker --package-metadata={\\"type\\":\\"rpm\\",\\"name\\":\\"%{name}\\",\\"version\\":\\"%{version}-%{release}\\",\\"architecture\\":\\"%{_arch}\\"}
%cmake %{set_build_flags}; /usr/bin/cmake -S "%{_vpath_srcdir}" -B "%{_vpath_builddir}" -DCMAKE_C_FLAGS_RELEASE:STRING="-DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE:STRING="-DNDEBUG" -DCMAKE_VERBOSE_MAKEFILE:BOOL=ON -DCMAKE_INSTALL_DO_STRIP:BOOL=OFF -DCMAKE_INSTALL_PREFIX:PATH=%{_prefix} -DINCLUDE_INSTALL_DIR:PATH=%{_includedir} -DLIB_INSTALL_DIR:PATH=%{_libdir} -DSYSCONF_INSTALL_DIR:PATH=%{_sysconfdir} -DSHARE_INSTALL_PREFIX:PATH=%{_datadir} -DBUILD_SHARED_LIBS:BOOL=ON
%cmake_build /usr/bin/cmake --build "%{_vpath_builddir}" %{?_smp_mflags} --verbose
%cmake_install DESTDIR="%{buildroot}" /usr/bin/cmake --install "%{_vpath_builddir}"
%ctest /usr/bin/ctest --test-dir "%{_vpath_builddir}" --output-on-failure --force-new-ctest-process %{?_smp_mflags}
%__os_install_post find "%{buildroot}%{_bindir}" -type f -exec %{__strip} {} +
EOF
mkdir "$work/bin"
ln -s "$(command -v gawk)" "$work/bin/awk" || fail "gawk, Fedora's awk, is not installed"
# Without a distribution's tag its packages would take the upstream RPMs'
# name: the spec refuses to build.
if rpmbuild -tp --nodeps --define "dist %{nil}" --define "_topdir $work/untagged" "$tarball" >"$work/untagged.log" 2>&1; then
    fail "rpmbuild -tp with an empty %dist went through: its RPM would be named $(basename "$upstream")"
else
    check "rpmbuild with an empty %dist is refused, saying why" grep -q "take the name of the upstream static RPMs, argreport-$package_version" "$work/untagged.log"
fi
# No BuildRequires can be met from rpm's database on this system: --nodeps.
if PATH=$work/bin:$PATH LC_ALL=C.UTF-8 rpmbuild -ta --nodeps --load "$work/fedora.macros" \
        --define "_topdir $work/rpmbuild" "$tarball" >"$work/rpmbuild.log" 2>&1; then
    ok "rpmbuild -ta $tarball"
else
    tail -n 30 "$work/rpmbuild.log"
    fail "rpmbuild -ta $tarball"
fi
# The tests, found by %ctest in %check: after the %check line, and all passed.
ran_tests() { # log, the line that starts the step
    awk -v step="$2" 'index($0, step) { s = 1 } s && /^100% tests passed, 0 tests failed out of [1-9]/ { found = 1 }
        END { exit !found }' "$1"
}
check "its %check ran the tests, and all passed" ran_tests "$work/rpmbuild.log" 'Executing(%check)'
check "its build added no -ffile-prefix-map" bash -c '! grep -q -- -ffile-prefix-map "$1"' _ "$work/rpmbuild.log"
rpm=$work/rpmbuild/RPMS/$(uname -m)/argreport-$package_version.fc40.$(uname -m).rpm
rpm2cpio "$rpm" 2>/dev/null | (mkdir "$work/spec-rpm" && cd "$work/spec-rpm" && cpio -idm --quiet 2>/dev/null)
check "its binary is built with the distribution's flags: linked dynamically, with Fedora's note" \
    bash -c 'readelf -lW "$1" | grep -q INTERP &&
        [ "$(readelf -nW "$1" | sed -n "s/.*Packaging Metadata: //p")" = "$2" ]' _ "$work/spec-rpm/usr/bin/argreport" \
    "{\"type\":\"rpm\",\"name\":\"argreport\",\"version\":\"$package_version.fc40\",\"architecture\":\"$(uname -m)\"}"
check "its RPM declares the copyright file %license" test "$(rpm -qpL "$rpm" 2>/dev/null)" = /usr/share/doc/argreport/copyright
# Its changelog says what the spec builds, not what the upstream packages are.
spec_changelog=$(rpm -qp --changelog "$rpm" 2>/dev/null | tr -s ' \n' '  ')
check "its %changelog says that it is built with the distribution's C library and linked dynamically" \
    grep -qF "with the distribution's C library, flags and package note, linked dynamically" <<<"$spec_changelog"
check "its %changelog speaks of no static build and no musl" bash -c '! grep -qiE "static|musl" <<<"$1"' _ "$spec_changelog"
check "its summary and description are the upstream RPM's" \
    cmp <(rpm -qp --qf '%{SUMMARY}\n%{DESCRIPTION}\n' "$rpm" 2>/dev/null) <(rpm -qp --qf '%{SUMMARY}\n%{DESCRIPTION}\n' "$upstream" 2>/dev/null)
lint=$(rpmlint -c packaging/packages/rpmlint-spec.toml "$work"/rpmbuild/SRPMS/*.src.rpm "$rpm" 2>&1)
if grep -q ' 0 errors, 0 warnings' <<<"$lint"; then
    ok "rpmlint on its source RPM and RPM: nothing but what packaging/packages/rpmlint-spec.toml explains"
else
    echo "$lint"
    fail "rpmlint on the source RPM and RPM of packaging/argreport.spec"
fi

# --- A throwaway debian/ of the kind Debian keeps for itself, made here and
# nowhere else, and dpkg-buildpackage on the tarball.
deb=$work/deb
mkdir -p "$deb"
cp "$tarball" "$deb/argreport_$release.orig.tar.gz"
tar -xzf "$tarball" -C "$deb"
src=$deb/argreport-$release
mkdir -p "$src/debian/source"
echo '3.0 (quilt)' >"$src/debian/source/format"
sed "1s/($version-0upstream[0-9]*)/($release-1)/" packaging/packages/changelog >"$src/debian/changelog"
cp packaging/packages/copyright "$src/debian/copyright"
cat >"$src/debian/control" <<'EOF'
Source: argreport
Section: utils
Priority: optional
Maintainer: The argreport developers <maintainers@users.noreply.c-seed-8142300e.example>
Build-Depends: debhelper-compat (= 13), cmake (>= 3.25), libgtest-dev
Standards-Version: 4.6.2
Rules-Requires-Root: no

Package: argreport
Architecture: any
Depends: ${shlibs:Depends}, ${misc:Depends}
Description: show the argument vector a program receives, byte for byte
 argreport prints how many entries its argument vector holds, every entry
 with its position, exactly as received, and its first argument read as a
 decimal integer.
EOF
printf '#!/usr/bin/make -f\n%%:\n\tdh $@ --buildsystem=cmake\n' >"$src/debian/rules"
chmod +x "$src/debian/rules"
if (cd "$src" && dpkg-buildpackage -us -uc -b) >"$work/dpkg.log" 2>&1; then
    ok "dpkg-buildpackage -us -uc -b with a throwaway debian/"
else
    tail -n 30 "$work/dpkg.log"
    fail "dpkg-buildpackage -us -uc -b with a throwaway debian/"
fi
check "dh_auto_test ran the tests, and all passed" ran_tests "$work/dpkg.log" '   dh_auto_test'
# Each finding that remains, and why:
#  - the throwaway changelog closes no bug: Debian writes its own;
#  - no BIND_NOW: Debian's default flags leave it out (hardening=+bindnow);
#  - no fortified function by lintian's count, where hardening-check finds
#    __memset_chk: the program's memcpy calls copy lengths it has checked
#    against its buffer itself.
findings=$(lintian --pedantic -I --fail-on none "$deb"/*.changes 2>/dev/null | grep -vE \
    -e '^W: argreport: initial-upload-closes-no-bugs \[usr/share/doc/argreport/changelog.Debian.gz:1\]$' \
    -e '^I: argreport: hardening-no-bindnow \[usr/bin/argreport\]$' \
    -e '^I: argreport: hardening-no-fortify-functions \[usr/bin/argreport\]$' || true)
if [ -z "$findings" ]; then ok "lintian --pedantic -I finds nothing unexplained"; else echo "$findings"; fail "lintian"; fi

# --- The upstream RPM: the static release.
# musl's own version, as the build reads it from Debian's, which the .deb's
# Static-Built-Using gives (packaging/packages/check_packages.sh), and as
# musl's loader says it.
musl=$(jq -r .musl_upstream_version build/release/release.json)
loader=$(/usr/lib/x86_64-linux-musl/libc.so 2>&1 | sed -n 's/^Version //p')
check "the build took musl's version to be $musl, which musl's loader gives: $loader" test "$musl" = "$loader"
check "the upstream RPM provides bundled(musl) = $musl, the musl it links" \
    grep -qx "bundled(musl) = $musl" <(rpm -qp --provides "$upstream" 2>/dev/null)
rpm2cpio "$upstream" 2>/dev/null | (mkdir "$work/upstream-rpm" && cd "$work/upstream-rpm" && cpio -idm --quiet 2>/dev/null)
check "its stripped binary names __stack_chk_fail in its dynamic symbols, where checkers such as checksec find the canary" \
    bash -c 'readelf --dyn-syms -W "$1" | grep -q " __stack_chk_fail$"' _ "$work/upstream-rpm/usr/bin/argreport"
check "the upstream RPM has no relocatable prefix" test -z "$(rpm -qp --qf '[%{PREFIXES}]' "$upstream" 2>/dev/null)"
root=$work/root
mkdir "$root"
rpm --root "$root" --initdb
rpm --root "$root" -i --prefix /opt/ar "$upstream" >"$work/relocate.log" 2>&1
check "rpm -i --prefix /opt/ar refuses the upstream RPM" grep -q 'is not relocatable' "$work/relocate.log"
check "the source RPM the upstream RPM names is the one the dist target built" \
    test "build/dist/$(rpm -qp --qf '%{SOURCERPM}' "$upstream" 2>/dev/null)" = "$srpm" -a -f "$srpm"
check "that source RPM is of packaging/argreport.spec, and holds the source tarball" \
    bash -c 'rpm -qpl "$1" | sort | tr "\n" " " | grep -qx "$(basename "$2") argreport.spec "' _ "$srpm" "$tarball"
finish
