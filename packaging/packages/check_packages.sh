#!/usr/bin/env bash
# The native packages: the .deb, the .rpm and the tarball, with their
# checksums, contents, metadata, linters, musl's notice, and an install of
# each as its users would make it.
. "$(dirname "$0")/../../.ci/lib.sh"
scratch
logged "cmake --workflow --preset package" cmake --workflow --preset package || finish
out=build/release/packages
deb=$out/argreport_${package_version}_amd64.deb
rpm=$out/argreport-${package_version}.x86_64.rpm
tgz=$out/argreport-${package_version}-linux-x86_64.tar.gz
held=$(LC_ALL=C ls "$out" | tr '\n' ' ')
expected=$(printf '%s\n' SHA256SUMS "${rpm##*/}" "${tgz##*/}" "${deb##*/}" | LC_ALL=C sort | tr '\n' ' ')
if [ "$held" = "$expected" ]; then ok "$out holds $held"; else fail "$out holds $held, not $expected"; fi
logged "sha256sum -c $out/SHA256SUMS" bash -c 'cd "$1" && sha256sum -c SHA256SUMS' _ "$out"

# The copyright file carries musl's notice: every line of the linked musl's
# own file, but for its header, its paths (which go under musl/) and the
# stanzas of its Debian packaging.
native=$(dpkg --print-architecture)
musl_version=$(dpkg-query -W -f='${source:Version}' "musl-dev:$native")
musl_lines=$(awk 'BEGIN { RS = ""; FS = "\n" } /^Format:/ || /^Files: debian\// { next }
    { for (i = 1; i <= NF; i++) { if ($i ~ /^[^ \t]/) files = $i ~ /^Files:/; if (!files) print $i } }' \
    "$(dpkg-query -L "musl-dev:$native" | grep '/copyright$')" | sort -u)
copyright=build/release/copyright
missing=$(comm -23 <(echo "$musl_lines") <(sort -u "$copyright"))
if [ -z "$missing" ]; then ok "$copyright carries musl's notice"; else echo "$missing"; fail "$copyright lacks musl's notice"; fi
check "$copyright names musl $musl_version" grep -qF "Comment: musl $musl_version, linked statically" "$copyright"

# The .deb.
dpkg-deb -x "$deb" "$work/deb"
listing=$(dpkg-deb -c "$deb")
for f in ./usr/bin/argreport ./usr/share/man/man1/argreport.1.gz ./usr/share/man/zh_CN/man1/argreport.1.gz \
         ./usr/share/doc/argreport/copyright ./usr/share/doc/argreport/changelog.Debian.gz \
         ./usr/share/lintian/overrides/argreport; do
    check "the .deb holds $f" grep -q " $f\$" <<<"$listing"
done
check "the .deb's Section is utils" test "$(dpkg-deb -f "$deb" Section)" = utils
check "the .deb's Static-Built-Using is musl (= $musl_version)" \
    test "$(dpkg-deb -f "$deb" Static-Built-Using)" = "musl (= $musl_version)"
road "$work/deb/usr/bin/argreport"
# man finds the page of the asked-for language in the package's tree.
for lang in zh_CN:名称 en:NAME; do
    check "man -L ${lang%%:*} argreport shows the ${lang%%:*} page from the .deb" bash -c \
        'MANPATH=$1 MANWIDTH=80 man -L "$2" argreport 2>/dev/null | grep -qx "$3"' _ "$work/deb/usr/share/man" "${lang%%:*}" "${lang#*:}"
done
logged "lintian --pedantic -I finds nothing but Static-Built-Using" lintian_clean "$deb"

# The .rpm.
check "the .rpm's licence is MIT" test "$(rpm -qp --qf '%{LICENSE}' "$rpm")" = MIT
owned=$(rpm -qlp "$rpm" | sort | tr '\n' ' ')
[ "$owned" = "/usr/bin/argreport /usr/share/doc/argreport /usr/share/doc/argreport/README.md \
/usr/share/doc/argreport/README.zh-CN.md /usr/share/doc/argreport/changelog.gz \
/usr/share/doc/argreport/copyright /usr/share/man/man1/argreport.1.gz \
/usr/share/man/zh_CN/man1/argreport.1.gz " ] && ok "the .rpm owns what it installs" || fail "the .rpm owns $owned"
check "the .rpm's Chinese man page is %lang(zh_CN)" test "$(rpm -qp --qf '[%{FILELANGS}:%{FILENAMES}\n]' "$rpm" | grep '^zh_CN:')" \
    = zh_CN:/usr/share/man/zh_CN/man1/argreport.1.gz
check "the .rpm's %license is the copyright file" test "$(rpm -qpL "$rpm")" = /usr/share/doc/argreport/copyright
check "the .rpm requires nothing but rpmlib" test -z "$(rpm -qpR "$rpm" | grep -v '^rpmlib(')"
check "the .rpm's %changelog starts at $package_version" bash -c 'rpm -qp --changelog "$1" | head -n 1 | grep -q " - $2\$"' _ "$rpm" "$package_version"
logged "rpmlint -c packaging/packages/rpmlint.toml $rpm" rpmlint -c packaging/packages/rpmlint.toml "$rpm"
root=$work/rpmroot
mkdir "$root"
rpm --root "$root" --initdb
if rpm --root "$root" -i "$rpm" 2>/dev/null; then
    ok "rpm -i into an empty root, without --nodeps"
    road /usr/bin/argreport chroot "$root"
    rpm --root "$root" -e argreport 2>/dev/null || fail "rpm -e argreport"
    left=$(cd "$root" && find . -not -path './root*' -not -path './var*' | sort | tr '\n' ' ')
    [ "$left" = ". ./usr ./usr/bin ./usr/share ./usr/share/doc ./usr/share/man ./usr/share/man/man1 ./usr/share/man/zh_CN ./usr/share/man/zh_CN/man1 " ] \
        && ok "rpm -e leaves only the file system's directories" || fail "rpm -e left $left"
else
    fail "rpm -i into an empty root, without --nodeps"
fi
mkdir "$work/rpm"
rpm2cpio "$rpm" | (cd "$work/rpm" && cpio -idm --quiet)

# The tarball, unpacked with the README's command over a tree it must not
# change.
mkdir -p "$work/tgz/bin" "$work/tgz/share/man"
chmod 2775 "$work/tgz/bin" "$work/tgz/share" "$work/tgz/share/man"
tar -xzf "$tgz" -C "$work/tgz" --strip-components=1 --no-overwrite-dir
check "the tarball keeps the modes of directories it finds" \
    test "$(stat -c %a "$work/tgz/bin" "$work/tgz/share" "$work/tgz/share/man" | tr '\n' ' ')" = "2775 2775 2775 "
road "$work/tgz/bin/argreport"

for tree in "$work/deb/usr" "$work/rpm/usr" "$work/tgz"; do
    check "$tree has the build's copyright file" cmp "$copyright" "$tree/share/doc/argreport/copyright"
    has_note "$tree/bin/argreport"
    stripped "$tree/bin/argreport"
done
finish
