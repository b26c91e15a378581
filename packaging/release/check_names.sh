#!/usr/bin/env bash
# One name for one tree: a release's tag gives its version, any other commit
# a snapshot's name that sorts before the release it precedes and after the
# one it follows, in dpkg and rpm alike; a tag that disagrees stops the
# build; the tarball depends neither on the builder's git configuration nor
# on the clone's tags; names come from git, the source release or git
# archive, never from a stray file; and the package revision: revisions 1
# and 2 share no name but the tarball's, as release.sh --names gives them,
# without building them (packaging/release/check_release.sh makes both and
# holds them to those names). Tags are only ever made in temporary clones.
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
snapshot="$version~git20010204.${commit:0:7}"
name=$(cd "$work/snapshot" && cmake -P cmake/version.cmake)
check "an untagged commit, before v$version, is the snapshot $snapshot (it says $name)" test "$name" = "$snapshot"
dist "$work/snapshot" >/dev/null
check "dist on it writes argreport-$snapshot.tar.gz" test -f "$work/snapshot/build/dist/argreport-$snapshot.tar.gz"
check "the snapshot's tarball records its name for builds outside git" \
    grep -qx "set(ARGREPORT_VERSION $snapshot)" <(tar -xzOf "$work/snapshot/build/dist/argreport-$snapshot.tar.gz" \
        "argreport-$snapshot/packaging/source-release.cmake")
# The same commit in a clone with a tag of its own, an older release's on
# the commit before it: the same name, and the same tarball.
git clone -q --no-tags "$work/snapshot" "$work/with-tags"
git -C "$work/with-tags" -c user.name=CI -c user.email=ci@invalid tag -a v0.9.0 -m "an older release" HEAD~1
dist "$work/with-tags" >/dev/null
check "a clone with other tags gives the same snapshot tarball, byte for byte" \
    cmp "$work/snapshot/build/dist/argreport-$snapshot.tar.gz" "$work/with-tags/build/dist/argreport-$snapshot.tar.gz"

tagged_clone "$work/tagged"
name=$(cd "$work/tagged" && cmake -P cmake/version.cmake)
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

# ---- names from git or from the tarball, never from a stray file
printf 'set(ARGREPORT_VERSION 9.9.9)\nset(ARGREPORT_REVISION deadbeef)\n' >"$work/tagged/packaging/source-release.cmake"
name=$(cd "$work/tagged" && cmake -P cmake/version.cmake 2>"$work/stray.log")
check "an untracked packaging/source-release.cmake in the checkout names nothing (it says $name)" test "$name" = "$version"
check "and it is said to be ignored" grep -q 'source-release.cmake is ignored' "$work/stray.log"
dist "$work/tagged" >/dev/null
check "dist then still writes argreport-$version.tar.gz, of the commit" bash -c \
    'tar -xzOf "$1" "argreport-$2/packaging/source-release.cmake" | grep -qx "set(ARGREPORT_REVISION $3)"' _ \
    "$work/tagged/build/dist/argreport-$version.tar.gz" "$version" "$(git -C "$work/tagged" rev-parse HEAD)"
if (cd "$work/tagged" && packaging/release/release.sh amd64) >"$work/stray-release.log" 2>&1; then
    fail "release.sh ran with an untracked file in the checkout"
else
    check "release.sh refuses a checkout with an untracked file, and names it" \
        grep -qx '?? packaging/source-release.cmake' "$work/stray-release.log"
fi
rm "$work/tagged/packaging/source-release.cmake"
# A tree made by git archive, outside git: the tag's is the release, a later
# commit's a snapshot; a copy that nothing names says how to name it.
git clone -q "$work/tagged" "$work/later"
git -C "$work/later" -c user.name=CI -c user.email=ci@invalid commit -q --allow-empty -m "after the release"
later=$(git -C "$work/later" log -1 --format=%H)
later="$version+git$(TZ=UTC git -C "$work/later" log -1 --date=format-local:%Y%m%d --format=%cd).${later:0:7}"
name=$(cd "$work/later" && cmake -P cmake/version.cmake)
check "a commit after v$version is the snapshot $later (it says $name)" test "$name" = "$later"
for ref in "v$version $version" "HEAD $later"; do
    read -r commit expected <<<"$ref"
    rm -rf "$work/archive" && mkdir "$work/archive"
    git -C "$work/later" archive "$commit" | tar -xf - -C "$work/archive"
    name=$(cmake -P "$work/archive/cmake/version.cmake" 2>&1)
    check "git archive of $commit is named $expected (it says $name)" test "$name" = "$expected"
done
git -C "$work/later" show HEAD:packaging/release/git-archive.cmake >"$work/archive/packaging/release/git-archive.cmake"
if out=$(cmake -P "$work/archive/cmake/version.cmake" 2>&1); then
    fail "a copy without git, record or git archive's names was named $out"
else
    check "a copy without git, record or git archive's names cannot be named, and says how to name it" \
        grep -qF -- "-DARGREPORT_NAME=VERSION" <<<"$out"
fi

# ---- every kind of name in the order dpkg and rpm give them: a snapshot
# before the release, the release, its rebuild, a snapshot after it, and a
# snapshot before the next version; each sorts after the one before it.
rebuilt=$(( $(git -C "$work/tagged" log -1 --format=%ct) + 86400 ))
next=$(awk -F. '{ print $1 "." $2 + 1 ".0" }' <<<"$version")
ordered=("$snapshot-0upstream1" "$version-0upstream1" "$version-0upstream2" "$later-0upstream1" "$next~git20300101.0000000-0upstream1")
for i in $(seq 1 $((${#ordered[@]} - 1))); do
    older=${ordered[$((i - 1))]} newer=${ordered[$i]}
    check "dpkg --compare-versions and rpm both sort $older before $newer" bash -c \
        'dpkg --compare-versions "$1" lt "$2" && test "$(rpm --eval "%{lua: print(rpm.ver(\"$1\") < rpm.ver(\"$2\"))}")" = true' _ \
        "$older" "$newer"
done

# ---- the package revision: revisions 1 and 2 of the tagged commit never
# give one name two contents. release.sh names every file it would write
# without building any; revision 2 is a rebuild, dated a day after the
# release.
for revision in 1 2; do
    (cd "$work/tagged" && ARGREPORT_PACKAGE_REVISION=$revision SOURCE_DATE_EPOCH=$rebuilt ARGREPORT_SIGNING_KEY=KEY \
        packaging/release/release.sh --names) >"$work/rev$revision.names" 2>"$work/rev$revision.log" ||
        { cat "$work/rev$revision.log"; fail "release.sh --names for revision $revision"; }
done
shared=$(comm -12 "$work/rev1.names" "$work/rev2.names" | tr '\n' ' ')
check "revisions 1 and 2 share one name, the source tarball's (they share: $shared)" \
    test "$shared" = "argreport-$version.tar.gz "
check "every name of revision 2 but the tarball's carries its packages' version, $version-0upstream2" \
    test -z "$(grep -vF -e "$version-0upstream2" -e "argreport-$version.tar.gz" "$work/rev2.names")"
(cd "$work/tagged" && cmake --preset release -DARGREPORT_PACKAGE_REVISION=2 >"$work/undated.log" 2>&1)
check "a rebuild without SOURCE_DATE_EPOCH is refused, saying so" \
    grep -q "set SOURCE_DATE_EPOCH to the rebuild's time" <(tr -s ' \n' '  ' <"$work/undated.log")
check "revision 0 is refused" bash -c "! (cd '$work/tagged' && cmake --preset release -DARGREPORT_PACKAGE_REVISION=0 >/dev/null 2>&1)"
# Upstream's revision sorts before a distribution's own of the same version.
for distribution in "$version-1" "$version-0.1" "$version-1~bpo12+1"; do
    check "Debian sorts $version-0upstream1 before a distribution's $distribution, and 0upstream2 after 0upstream1" \
        bash -c 'dpkg --compare-versions "$1-0upstream1" lt "$2" && dpkg --compare-versions "$1-0upstream2" gt "$1-0upstream1"' _ "$version" "$distribution"
done
for distribution in 1 1.fc40 0.1; do
    check "RPM sorts release 0upstream1 before a distribution's $distribution, and 0upstream2 after 0upstream1" \
        test "$(rpm --eval "%{lua: print(rpm.vercmp('0upstream1', '$distribution'), rpm.vercmp('0upstream2', '0upstream1'))}")" = "-1	1"
done

finish
