#!/usr/bin/env bash
# One name for one tree: a release's tag gives its version, any other commit
# a snapshot's name that sorts after it; a tag that disagrees stops the
# build; the tarball does not depend on the builder's git configuration;
# and the package revision. Tags are only ever made in temporary clones.
#   packaging/release/check_names.sh
. "$(dirname "$0")/../../.ci/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset SOURCE_DATE_EPOCH
dist() { # clone: its dist workflow's output, and whether it succeeded
    (cd "$1" && cmake --workflow --preset dist 2>&1)
}
refused() { # what, the message expected, clone
    local out
    if out=$(dist "$3"); then
        fail "$1 did not stop dist"
    else # cmake wraps its messages
        check "$1 stops dist, saying: $2" grep -qF "$2" <<<"$(tr -s ' \n' '  ' <<<"$out")"
    fi
}

# ---- one name, one tree
git clone -q --no-tags . "$work/snapshot"
# A commit of another day, late in the evening west of Greenwich: the
# name takes the commit's date in UTC, not the clock's or the zone's.
GIT_COMMITTER_DATE="2001-02-03T23:30:00-05:00" \
    git -C "$work/snapshot" -c user.name=CI -c user.email=ci@invalid commit -q --allow-empty -m "a commit of another day"
commit=$(git -C "$work/snapshot" rev-parse HEAD)
snapshot="$version+git20010204.${commit:0:7}"
name=$(cd "$work/snapshot" && cmake -P packaging/release/version.cmake)
check "an untagged commit is the snapshot $snapshot (it says $name)" test "$name" = "$snapshot"
dist "$work/snapshot" >/dev/null
check "dist on it writes argreport-$snapshot.tar.gz" test -f "$work/snapshot/build/dist/argreport-$snapshot.tar.gz"
check "Debian sorts $snapshot-1 after $version-1" dpkg --compare-versions "$snapshot-1" gt "$version-1"
check "RPM sorts $snapshot after $version" \
    test "$(rpm --eval "%{lua: print(rpm.vercmp('$snapshot', '$version'))}")" = 1
check "the snapshot's tarball records its name for builds outside git" \
    grep -qx "set(ARGREPORT_VERSION $snapshot)" <(tar -xzOf "$work/snapshot/build/dist/argreport-$snapshot.tar.gz" \
        "argreport-$snapshot/packaging/source-release.cmake")

tagged_clone "$work/tagged"
name=$(cd "$work/tagged" && cmake -P packaging/release/version.cmake)
check "the commit tagged v$version is $version (it says $name)" test "$name" = "$version"
dist "$work/tagged" >/dev/null
release_tgz=$work/tagged/build/dist/argreport-$version.tar.gz
check "dist on it writes argreport-$version.tar.gz" test -f "$release_tgz"
# The builder's git configuration does not reach the tarball.
printf '[tar]\n\tumask = 0077\n[core]\n\tautocrlf = true\n[log]\n\tshowSignature = true\n' >"$work/gitconfig"
cp "$release_tgz" "$work/plain.tar.gz"
(cd "$work/tagged" && GIT_CONFIG_GLOBAL=$work/gitconfig cmake --workflow --preset dist >/dev/null 2>&1)
check "the tarball is the same bytes under tar.umask 0077 and core.autocrlf" cmp "$work/plain.tar.gz" "$release_tgz"

git clone -q --no-tags . "$work/mismatch"
git -C "$work/mismatch" -c user.name=CI -c user.email=ci@invalid tag -a v9.9.9 -m "not this version"
refused "a tag v9.9.9 on $version" "The tag v9.9.9 disagrees with CMakeLists.txt, whose project(VERSION) is $version" "$work/mismatch"
git -C "$work/mismatch" tag -d v9.9.9 >/dev/null
sed -i "1s/($version-/(0.9.0-/" "$work/mismatch/packaging/packages/changelog"
git -C "$work/mismatch" -c user.name=CI -c user.email=ci@invalid commit -qam "changelog of another version"
git -C "$work/mismatch" -c user.name=CI -c user.email=ci@invalid tag -a "v$version" -m "argreport $version"
refused "v$version on a changelog for 0.9.0" "The tag v$version disagrees with packaging/packages/changelog, whose top entry is for 0.9.0" "$work/mismatch"
git -C "$work/mismatch" tag -d "v$version" >/dev/null
git -C "$work/mismatch" reset -q --hard HEAD~1
git -C "$work/mismatch" tag "v$version"
refused "a lightweight tag v$version" "The tag v$version is not annotated" "$work/mismatch"

# ---- the package revision, on the tagged commit
(cd "$work/tagged" && cmake --preset release -DARGREPORT_PACKAGE_REVISION=2 >/dev/null &&
    cmake --workflow --preset package >/dev/null 2>&1)
out2=$work/tagged/build/release/packages
deb=$out2/argreport_${version}-2_amd64.deb
rpm=$out2/argreport-$version-2.x86_64.rpm
check "revision 2 gives argreport_${version}-2_amd64.deb" test "$(dpkg-deb -f "$deb" Version)" = "$version-2"
check "revision 2 gives an RPM with release 2" test "$(rpm -qp --qf '%{VERSION}-%{RELEASE}' "$rpm")" = "$version-2"
check "the RPM's %changelog starts with $version-2" grep -q " - $version-2\$" <(rpm -qp --changelog "$rpm" | head -1)
check "the .deb's changelog starts with $version-2" \
    grep -q "^argreport ($version-2) unstable" <(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/argreport/changelog.Debian.gz | gunzip)
check "revision 0 is refused" bash -c "! (cd '$work/tagged' && cmake --preset release -DARGREPORT_PACKAGE_REVISION=0 >/dev/null 2>&1)"

finish
