#!/usr/bin/env bash
# The other architectures of cmake/musl.cmake, built as the release builds
# them, in the clone tagged as a release (build/tagged), where the parts
# after this one find them built: each one's packages, their contents,
# linters and checksums. Each binary's tests (the suite under qemu where this
# machine cannot run it, its hardening, its faults) are release.sh's, which
# runs them on every architecture before it signs anything: the publish
# part (packaging/release/check_release.sh) runs it, and this part does
# not run them again.
#   bash .ci/arches.sh [ARCH...]      (Debian's names; all by default)
. "$(dirname "$0")/lib.sh"
tree=$(tagged_tree) || { fail "a clone tagged v$version"; finish; }
# shellcheck source=.ci/lib.sh
. "$tree/.ci/lib.sh"
scratch
started=$SECONDS
mapfile -t arches < <(foreign_targets | cut -d' ' -f1)
[ $# = 0 ] || arches=("$@")
packaged "${arches[@]}" || finish
debs=() rpms=()
while read -r arch _ _ machine _ _ _ build _ _ <&3; do
    [[ " ${arches[*]} " == *" $arch "* ]] || continue
    echo "--- $arch"
    bin=$build/argreport
    out=$build/packages
    logged "sha256sum -c $out/SHA256SUMS" bash -c 'cd "$1" && sha256sum -c SHA256SUMS' _ "$out"
    deb=$out/argreport_${package_version}_$arch.deb
    rpm=$(ls "$out"/argreport-"$package_version".*.rpm)
    tgz=$out/argreport-$package_version-linux-$machine.tar.gz
    debs+=("$deb") rpms+=("$rpm")
    check "$deb is for $arch" test "$(dpkg-deb -f "$deb" Architecture)" = "$arch"
    check "$deb's Static-Built-Using names musl-dev:$arch" test "$(dpkg-deb -f "$deb" Static-Built-Using)" \
        = "musl (= $(dpkg-query -W -f='${source:Version}' "musl-dev:$arch"))"
    check "$rpm requires nothing but rpmlib" test -z "$(rpm -qpR "$rpm" | grep -v '^rpmlib(')"
    mkdir -p "$work/$arch/deb" "$work/$arch/rpm" "$work/$arch/tgz"
    dpkg-deb -x "$deb" "$work/$arch/deb"
    rpm2cpio "$rpm" | (cd "$work/$arch/rpm" && cpio -idm --quiet)
    tar -xzf "$tgz" -C "$work/$arch/tgz" --strip-components=1 || fail "$tgz unpacks"
    elf_machine=$(readelf -hW "$bin" | sed -n 's/ *Machine: *//p')
    for unpacked in "$work/$arch/deb/usr" "$work/$arch/rpm/usr" "$work/$arch/tgz"; do
        check "$unpacked has its build's copyright file" cmp "$build/copyright" "$unpacked/share/doc/argreport/copyright"
        has_note "$unpacked/bin/argreport" "$machine"
        stripped "$unpacked/bin/argreport"
        check "$unpacked/bin/argreport is the $arch binary" \
            grep -q "Machine: *$elf_machine" <(readelf -hW "$unpacked/bin/argreport")
    done
    echo "$arch: $(stat -c %s "$work/$arch/tgz/bin/argreport") bytes stripped"
done 3< <(foreign_targets)
# The linters take every package at once: each starts slowly.
logged "lintian on ${debs[*]} finds nothing but Static-Built-Using" lintian_clean "${debs[@]}"
logged "rpmlint -c packaging/packages/rpmlint.toml ${rpms[*]}" rpmlint -c packaging/packages/rpmlint.toml "${rpms[@]}"
echo "the other architectures took $((SECONDS - started)) s"
finish
