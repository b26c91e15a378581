# Sourced by every CI part, never run: the tree's names, its targets, its
# container storage and the helpers the parts share, after the reporting of
# .ci/report.sh.
# shellcheck shell=bash
set -uo pipefail
part=$(realpath -- "$0")
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
top=$PWD
# The part's path in its own tree, which a part that goes on to source
# another tree's lib.sh (a clone's) keeps.
[ -n "${part_name:-}" ] || part_name=$(realpath --relative-to="$top" "$part")
. .ci/report.sh
version=$(sed -n 's/^project(argreport VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# What the artefacts are named: the version on its tag, a snapshot elsewhere.
release=$(cmake -P cmake/version.cmake)
# The upstream packages' version, which also names every artefact a rebuild
# changes, and the images, written as a tag holds it: revision 1, as
# packaging/packaging.cmake writes a revision.
package_version=$release-$(sed -n 's/^set(ARGREPORT_PACKAGE_RELEASE "\(.*\)${ARGREPORT_PACKAGE_REVISION}")$/\1/p' packaging/packaging.cmake)1
image_version=$(cmake -D "ARGREPORT_IMAGE_TAG_OF=$package_version" -P cmake/version.cmake)

# The lines of a document's command block marked "run by SCRIPT: NAME",
# SCRIPT being the part that calls this unless named, to be run as typed.
# The document is read where the part is (the tree at the top, or another
# tree it has gone into).
doc_block() { # document, name[, script]
    python3 "$top/docs/transcripts.py" --block "$1" "${3:-$part_name}" "$2"
}

# Builds a configure preset's tree, as its workflow would but for the tests.
built() { # preset
    logged "the $1 build" bash -c 'cmake --preset "$1" && cmake --build --preset "$1"' _ "$1"
}

# A scratch directory, $work, removed at the end.
scratch() {
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
}

# The documents, English and Chinese, one a line.
documents() { ls README.md README.zh-CN.md argreport.1.in argreport.zh_CN.1.in docs/*.md; }
# The targets of cmake/musl.cmake, one a line: Debian's name, gcc's triple,
# musl's directory, uname -m, RPM's name, OCI platform, qemu's name, build
# folder, the workflow that builds it and the one that packages it (run with
# ARGREPORT_TARGET set to the first). The foreign ones are all but amd64, the
# native one.
all_targets() { cmake -P cmake/musl.cmake; }
foreign_targets() { all_targets | grep -v '^amd64 '; }
# Each architecture's package workflow, as many at once as the machine has
# processors (they build in folders of their own), each reported as logged
# reports it, in the table's order; the status is that of the first to fail.
packaged() { # Debian's names of architectures
    local dir arch package status=0 wanted
    dir=$(mktemp -d)
    mapfile -t wanted < <(all_targets | awk -v want=" $* " 'index(want, " " $1 " ") { print $1, $10 }')
    printf '%s\n' "${wanted[@]}" | xargs -P "$(nproc)" -L 1 bash -c \
        'ARGREPORT_TARGET=$2 cmake --workflow --preset "$3" >"$1/$2.log" 2>&1; echo $? >"$1/$2.status"' _ "$dir"
    while read -r arch package; do
        if [ "$(cat "$dir/$arch.status" 2>/dev/null)" = 0 ]; then
            ok "ARGREPORT_TARGET=$arch cmake --workflow --preset $package"
        else
            tail -n 40 "$dir/$arch.log" 2>/dev/null
            fail "ARGREPORT_TARGET=$arch cmake --workflow --preset $package"
            status=1
        fi
    done < <(printf '%s\n' "${wanted[@]}")
    rm -rf "$dir"
    return $status
}

# The typical road: PROGRAM 42 x, run through WRAPPER (chroot DIR, say) if
# one is given, prints what it must.
road_report() { printf 'argc = 3\n第1个命令行参数是:%s\n第2个命令行参数是:42\n第3个命令行参数是:x\nnum = 42' "$1"; }
road() { # program[, wrapper...]
    local run="${*:2}${2:+ }$1 42 x"
    if [ "$("${@:2}" "$1" 42 x)" = "$(road_report "$1")" ]; then ok "$run"; else fail "$run printed something else"; fi
}
# The package note of the binary in $1 names this build.
has_note() { # file[, architecture as uname -m names it]
    if readelf -nW "$1" | grep -qF "{\"type\":\"upstream\",\"name\":\"argreport\",\"version\":\"$release\",\"architecture\":\"${2:-x86_64}\"}"; then
        ok "$1 carries the package note for $release on ${2:-x86_64}"
    else
        fail "$1 lacks the package note for $release on ${2:-x86_64}"
    fi
}
stripped() { check "$1 is stripped" bash -c '! readelf -SW "$1" | grep -qE "\.symtab|\.debug|\.comment"' _ "$1"; }
# lintian's findings on a .deb, but for the one let through: run as root
# here, which lintian only warns about on its standard error, and
# Static-Built-Using (dpkg 1.21.3) is newer than this lintian, which calls it
# an unknown field.
lintian_clean() { # .deb...
    local findings
    findings=$(lintian --pedantic -I --fail-on none "$@" | grep -vxF 'W: argreport: unknown-field Static-Built-Using')
    [ -z "$findings" ] || { echo "$findings"; return 1; }
}

# This sandbox refuses crun's cgroup setup and the default limits: the
# work-arounds stay here, not in the README's instructions.
podman_run_opts=(--runtime runc --ulimit nofile=1024:1024 --ulimit nproc=1024:1024)
# Puts standard input in FILE by renaming a whole copy over it: the parts of
# the other lane, which run podman meanwhile, never read it half written.
put_whole() { # file
    local copy
    copy=$(mktemp "$1.XXXXXX") && cat >"$copy" && mv -f "$copy" "$1"
}
podman_conf() { # the same, for podman kube play's containers, in a file
    printf '[containers]\ndefault_ulimits = ["nofile=1024:1024", "nproc=1024:1024"]\n[engine]\nruntime = "runc"\ntmp_dir = "%s/tmp"\n[network]\nnetwork_config_dir = "%s/networks"\n' \
        "$containers" "$containers" | put_whole "$1"
}
# The images, containers, pods and networks that the checks make live in
# this tree's build/containers, not in the machine's container storage: two
# trees checked at once never see each other's names, and the documents'
# podman, buildah and skopeo commands run as written, told where by the
# environment.
containers=$PWD/build/containers
mkdir -p "$containers"
printf '[storage]\ndriver = "overlay"\ngraphroot = "%s/storage"\nrunroot = "%s/run"\n' \
    "$containers" "$containers" | put_whole "$containers/storage.conf"
podman_conf "$containers/containers.conf"
export CONTAINERS_STORAGE_CONF=$containers/storage.conf CONTAINERS_CONF=$containers/containers.conf
# A part that runs containers runs in a network namespace of its own, with
# loopback alone: netavark names firewall chains after the networks, whose
# names (podman, podman-default-kube-network) are the same in every tree,
# and the machine's chains and bridges are shared. Called first thing, with
# the part's arguments: it starts the part again in there.
own_network() {
    [ -z "${ARGREPORT_OWN_NETWORK:-}" ] || return 0
    ARGREPORT_OWN_NETWORK=1 exec unshare --net -- bash -c 'ip link set lo up && exec bash "$@"' _ "$part" "$@"
}

# The release of the commit checked out: a clone of it, without the tags of
# this one, tagged vVERSION as a release is, annotated, by a throwaway
# identity. Uncommitted changes are not in it.
tagged_clone() { # directory
    git clone -q --no-tags . "$1" &&
        git -C "$1" -c user.name=CI -c user.email=ci@invalid tag -a "v$version" -m "argreport $version"
}
# The same, made once for every part that only builds and reads the
# release: build/tagged, made again when the commit checked out is another.
# What one part builds there, the next finds built. A part that changes the
# clone makes one of its own with tagged_clone.
tagged_tree() {
    local tree=$PWD/build/tagged head
    head=$(git rev-parse HEAD) || return
    if [ "$(cat "$tree.commit" 2>/dev/null)" != "$head" ]; then
        rm -rf "$tree" "$tree.commit"
        tagged_clone "$tree" >&2 && echo "$head" >"$tree.commit" || return
    fi
    echo "$tree"
}
