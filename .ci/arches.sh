#!/usr/bin/env bash
# The other architectures of cmake/musl.cmake: each one's release, its
# hardening, the whole suite against it (under qemu where this machine
# cannot run it), and its packages.
#   bash .ci/arches.sh [ARCH...]      (Debian's names; all by default)
. "$(dirname "$0")/lib.sh"
scratch
logged "cmake --workflow --preset release" cmake --workflow --preset release || finish
built dev || finish
started=$SECONDS
while read -r arch _ _ machine _ _ qemu build _ package <&3; do
    [ $# = 0 ] || [[ " $* " == *" $arch "* ]] || continue
    echo "--- $arch"
    logged "ARGREPORT_TARGET=$arch cmake --workflow --preset $package" \
        env ARGREPORT_TARGET="$arch" cmake --workflow --preset "$package" || continue
    bin=$build/argreport
    emulator=()
    tests/emulated.sh --native "$bin" || emulator=(--emulator "$(command -v "qemu-$qemu-static")")
    tests/check_hardening.sh --static "${emulator[@]}" "$bin" || fail "tests/check_hardening.sh on $bin"
    tests/check_faults.sh "${emulator[@]}" "$bin" || fail "tests/check_faults.sh on $bin"
    road "$bin" tests/emulated.sh "$arch" "$bin"
    logged "ARGREPORT_UNDER_TEST=$bin ctest --preset dev" \
        tests/emulated.sh "$arch" "$bin" env ARGREPORT_UNDER_TEST="$PWD/$bin" ctest --preset dev
    out=$build/packages
    logged "sha256sum -c $out/SHA256SUMS" bash -c 'cd "$1" && sha256sum -c SHA256SUMS' _ "$out"
    deb=$out/argreport_${package_version}_$arch.deb
    rpm=$(ls "$out"/argreport-"$package_version".*.rpm)
    tgz=$out/argreport-$package_version-linux-$machine.tar.gz
    check "$deb is for $arch" test "$(dpkg-deb -f "$deb" Architecture)" = "$arch"
    check "$deb's Static-Built-Using names musl-dev:$arch" test "$(dpkg-deb -f "$deb" Static-Built-Using)" \
        = "musl (= $(dpkg-query -W -f='${source:Version}' "musl-dev:$arch"))"
    logged "lintian on $deb finds nothing but Static-Built-Using" lintian_clean "$deb"
    check "$rpm requires nothing but rpmlib" test -z "$(rpm -qpR "$rpm" | grep -v '^rpmlib(')"
    logged "rpmlint -c packaging/packages/rpmlint.toml $rpm" rpmlint -c packaging/packages/rpmlint.toml "$rpm"
    mkdir -p "$work/$arch/deb" "$work/$arch/rpm" "$work/$arch/tgz"
    dpkg-deb -x "$deb" "$work/$arch/deb"
    rpm2cpio "$rpm" | (cd "$work/$arch/rpm" && cpio -idm --quiet)
    tar -xzf "$tgz" -C "$work/$arch/tgz" --strip-components=1 || fail "$tgz unpacks"
    elf_machine=$(readelf -hW "$bin" | sed -n 's/ *Machine: *//p')
    for tree in "$work/$arch/deb/usr" "$work/$arch/rpm/usr" "$work/$arch/tgz"; do
        check "$tree has its build's copyright file" cmp "$build/copyright" "$tree/share/doc/argreport/copyright"
        has_note "$tree/bin/argreport" "$machine"
        stripped "$tree/bin/argreport"
        check "$tree/bin/argreport is the $arch binary" \
            grep -q "Machine: *$elf_machine" <(readelf -hW "$tree/bin/argreport")
    done
    echo "$arch: $(stat -c %s "$work/$arch/tgz/bin/argreport") bytes stripped"
done 3< <(foreign_targets)
echo "the other architectures took $((SECONDS - started)) s"
finish
