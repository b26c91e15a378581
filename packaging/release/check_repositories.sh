#!/usr/bin/env bash
# apt and dnf against the repositories a release holds, each in a throwaway
# root of its own: a copy of this machine whose writes go to memory, in a
# mount namespace that ends with the script, with no source of packages
# but the release. In each, docs/releasing.md's commands, run as typed in
# the folder of revision 1 (the READMEs show the same), install it, and the
# installed argreport runs; then revision 2 is served in its place, with an
# index tampered with (the packages' versions raised) and signed with
# another key, and last as it is: apt refuses the first two and so does
# dnf, and the documented upgrade then takes revision 2. Nothing is
# installed on the machine itself.
#   packaging/release/check_repositories.sh REVISION1 REVISION2 KEY      (as root)
# REVISION1 and REVISION2 are the folders release.sh wrote for revisions 1
# and 2 of one version, signed with KEY, a secret key of GNUPGHOME's.
# shellcheck source=.ci/lib.sh
. "$(dirname "$0")/../../.ci/lib.sh"
[ -n "${ARGREPORT_OWN_MOUNTS:-}" ] ||
    ARGREPORT_OWN_MOUNTS=1 exec unshare --mount --propagation private -- bash "$part" "$@"
[ $# = 3 ] || { echo "usage: $0 REVISION1 REVISION2 KEY" >&2; exit 2; }
rev1=$(realpath "$1") rev2=$(realpath "$2") key=$3
scratch
here=packaging/release
arch=$(dpkg --print-architecture)
version() { # the version of a package's name in it
    sed -n "s/^argreport_\(.*\)_$arch\.deb$/\1/p" < <(ls "$1")
}
v1=$(version "$rev1") v2=$(version "$rev2")
[ -n "$v1" ] && [ -n "$v2" ] || { fail "no $arch .deb in $rev1 or $rev2"; finish; }

# What is served: copies of the releases, with the public key beside them,
# as it is published; and revision 2 twice attacked.
# (Linked, not copied: whatever changes a file here writes a new one.)
for folder in rev1 rev2 tampered apt-foreign dnf-foreign; do
    from=$([ "$folder" = rev1 ] && echo "$rev1" || echo "$rev2")
    cp -al "$from" "$work/$folder" 2>/dev/null || cp -a "$from" "$work/$folder"
    gpg --batch --armor --export "$key" >"$work/$folder/argreport-signing-key.asc"
done
# Its indexes of packages changed to offer a later version: the signed
# top-level indexes now name other digests.
packages=$work/tampered/dists/stable/main/binary-$arch/Packages
sed -i 's/^Version: .*/Version: 9.9.9-0upstream9/' "$packages"
rm "$packages.gz" && gzip -9n <"$packages" >"$packages.gz"
primary=$(ls "$work"/tampered/repodata/*-primary.xml.gz)
gunzip <"$primary" | sed 's/ver="[^"]*"/ver="9.9.9"/' | gzip -9n >"$work/primary.xml.gz"
mv "$work/primary.xml.gz" "$primary"
# Signed with another key: for apt, the index; for dnf, the packages, under
# an index that the release's key signs.
other_home=$work/other-gnupg
mkdir -m 700 "$other_home"
GNUPGHOME=$other_home gpg --batch --quiet --passphrase '' --quick-gen-key 'not argreport <other@invalid>' ed25519 sign never 2>/dev/null
other=$(GNUPGHOME=$other_home gpg --batch --with-colons --list-secret-keys | awk -F: '/^fpr/ { print $10; exit }')
then=$(($(date +%s) - 60))
GNUPGHOME=$other_home $here/repositories.sh "$work/apt-foreign" "$then" "$other" ||
    fail "the index signed with another key"
for rpm in "$work"/dnf-foreign/*.rpm; do
    cp "$rpm" "$rpm.new" && rpmsign --delsign "$rpm.new" >/dev/null && mv "$rpm.new" "$rpm"
done
GNUPGHOME=$other_home $here/sign.sh "$other" "$then" --rpm "$work"/dnf-foreign/*.rpm &&
    $here/repositories.sh "$work/dnf-foreign" "$then" "$key" || fail "the packages signed with another key"

# A root: / as a lower layer, a tmpfs above it, /proc, a /dev of its own
# with the few devices apt, dpkg and dnf use and terminals of its own, and nothing of the machine's
# apt sources; the release served at /srv/argreport. The roots lie in a
# directory of their own, whose mounts are undone, and which nothing
# removes across a mount, before it goes.
roots=$(mktemp -d)
# What the roots leave running (dnf's gpg-agent) ends with them.
rooted() { local p; for p in /proc/[0-9]*; do [[ $(readlink "$p/root") != "$roots"/* ]] || echo "${p#/proc/}"; done; }
trap 'kill $(rooted) 2>/dev/null; umount -R -l "$roots"/* 2>/dev/null; rm -rf --one-file-system "$roots" "$work"' EXIT
new_root() { # directory
    mkdir "$1" && mount -t tmpfs tmpfs "$1" && mkdir "$1/upper" "$1/work" "$1/root" &&
        mount -t overlay overlay -o "lowerdir=/,upperdir=$1/upper,workdir=$1/work" "$1/root" &&
        mount -t proc proc "$1/root/proc" && mount -t tmpfs -o mode=755 tmpfs "$1/root/dev" &&
        mount -t tmpfs tmpfs "$1/root/tmp" && mount -t tmpfs tmpfs "$1/root/run" || return
    local device
    for device in null:3 zero:5 full:7 random:8 urandom:9; do
        mknod -m 666 "$1/root/dev/${device%:*}" c 1 "${device#*:}" || return
    done
    ln -s /proc/self/fd "$1/root/dev/fd"
    mkdir "$1/root/dev/pts" && mount -t devpts -o newinstance,ptmxmode=0666 devpts "$1/root/dev/pts" &&
        ln -s pts/ptmx "$1/root/dev/ptmx" || return
    mountpoint -q "$1/root" || return # what follows changes the overlay, never the machine
    rm -rf "$1"/root/etc/apt/sources.list "$1"/root/etc/apt/sources.list.d/* "$1"/root/var/lib/apt/lists/*
    # dpkg's database starts empty, as on a machine where nothing was
    # installed with it: reading the machine's would take most of the time.
    find "$1/root/var/lib/dpkg" -mindepth 1 -maxdepth 1 ! -name arch -exec rm -rf {} +
    mkdir "$1"/root/var/lib/dpkg/{info,updates,triggers} && touch "$1"/root/var/lib/dpkg/{status,available}
    mkdir -p "$1/root/srv/argreport" "$1/root/etc/yum.repos.d"
}
serve() { # root, folder
    umount "$1/root/srv/argreport" 2>/dev/null
    mount --bind "$2" "$1/root/srv/argreport"
}
inside() { # root, log, script: run in the served folder, at a terminal where a user answers yes to what is asked
    local root=$1 log=$2
    shift 2
    printf 'cd /srv/argreport\n%s\n' "$*" >"$root/root/tmp/typed"
    printf 'y\ny\ny\n' | timeout 300 chroot "$root/root" script -qefc 'bash -e -o pipefail /tmp/typed' /dev/null >"$log" 2>&1
}
installed() { # root, its package manager: the version argreport has in it
    if [ "$2" = apt ]; then
        chroot "$1/root" dpkg-query -W -f='${Version}' argreport 2>/dev/null
    else
        chroot "$1/root" rpm -q --qf '%{VERSION}-%{RELEASE}' argreport 2>/dev/null
    fi
}

# apt's steps and dnf's, each in its root: both at once, each reported
# once both are done.
# The document's commands, run as typed in $root, install the version given,
# which then runs there.
took() { # commands, version, what they are
    local log=$work/$manager-$2.log
    if inside "$root" "$log" "$1"; then
        check "$3 install argreport $2" test "$(installed "$root" "$manager")" = "$2"
        road argreport chroot "$root/root"
    else
        tail -n 20 "$log"
        fail "$3, run as typed"
        return 1
    fi
}
exercise() { # apt or dnf
    local manager=$1 install upgrade shown root attack said
    case $manager in
    apt) install=$(doc_block docs/releasing.md apt) upgrade=$(doc_block docs/releasing.md apt-upgrade)
        shown=$(doc_block README.md apt) ;;
    dnf) install=$(doc_block docs/releasing.md dnf) upgrade=$(doc_block docs/releasing.md dnf-upgrade)
        shown=$(doc_block README.md dnf) ;;
    esac
    [ -n "$install" ] && [ -n "$upgrade" ] || { fail "docs/releasing.md shows no $manager commands for $here/check_repositories.sh"; return; }
    # The READMEs show the same (.ci/docs.sh holds the Chinese one to the English).
    check "README.md shows docs/releasing.md's $manager commands" test "$shown" = "$install"
    root=$roots/$manager
    new_root "$root" || { fail "a throwaway root for $manager"; return; }
    serve "$root" "$work/rev1"
    took "$install" "$v1" "docs/releasing.md's $manager commands, in the folder of revision 1" || return
    for attack in tampered "$manager-foreign"; do
        serve "$root" "$work/$attack"
        inside "$root" "$work/$manager-$attack.log" "$upgrade"
        case $manager-$attack in
        apt-tampered) said='Hash Sum mismatch' ;;
        apt-apt-foreign) said='NO_PUBKEY' ;;
        dnf-tampered) said='checksum' ;;
        dnf-dnf-foreign) said='GPG check FAILED' ;;
        esac
        if [ "$(installed "$root" "$manager")" != "$v1" ]; then
            tail -n 20 "$work/$manager-$attack.log"
            fail "$manager upgraded from a repository $attack: argreport is now $(installed "$root" "$manager")"
        else
            check "$manager refuses revision 2 $([ "$attack" = tampered ] && echo "with its index tampered with" ||
                echo "signed with another key"), saying so ($said), and keeps $v1" grep -q "$said" "$work/$manager-$attack.log"
        fi
    done
    serve "$root" "$work/rev2"
    took "$upgrade" "$v2" "docs/releasing.md's $manager upgrade, in the folder of revision 2"
}
for manager in apt dnf; do exercise "$manager" >"$work/$manager.out" 2>&1 & done
wait
for manager in apt dnf; do
    echo "--- $manager"
    cat "$work/$manager.out"
    failures=$((failures + $(grep -c '^FAILED: ' "$work/$manager.out")))
done
finish
