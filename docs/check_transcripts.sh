#!/usr/bin/env bash
# CI part: every example that the READMEs, the man pages and docs/ show as a
# command with its output is run, and its output compared byte for byte
# (docs/transcripts.py says how examples are found and marked; a
# translation's examples, the same as its original's, run once). They run
# with the release binary on PATH as argreport, each document's in a
# directory, a HOME and a TMPDIR of its own, under cram (Debian:
# python3-cram), tmux for those shown as a terminal shows them, and podman
# for the container recipes. Those that need no podman also find the .deb's
# binary installed as /usr/bin/argreport, as the documents that name it
# assume: an overlay over /usr/bin that only their mount namespace sees.
# The README's commands that build, install and package, which it shows
# without their output, run as typed too, at the top of the tree, and so do
# the install commands of its table of packages. Nothing shown is
# rewritten: the one difference allowed, a snapshot's name in output, is
# transcripts.py's --built-as.
#   docs/check_transcripts.sh [DOCUMENT...]    (all of them by default, but
#                                               the launchers' guide)
. "$(dirname "$0")/../.ci/lib.sh"
own_network "$@"
docs=("$@")
# docs/launchers*.md need an sshd and a home of their own for root, which
# docs/check_launchers.sh makes before it runs them here.
[ ${#docs[@]} -gt 0 ] || mapfile -t docs < <(documents | grep -v '^docs/launchers')
cram=$(command -v cram3 || command -v cram) || { fail "cram is not installed (apt-get install python3-cram)"; finish; }
command -v tmux >/dev/null || { fail "tmux is not installed"; finish; }

# The README's first commands, as typed, at the top of the tree: the quick
# start, whose report names the binary as typed; the install, in a mount
# namespace of its own (install_run, below); the packages, which the rest
# takes its binaries from.
readme=
for doc in "${docs[@]}"; do
    case $doc in README.md | README.zh-CN.md) readme=${readme:-$doc} ;; esac
done
if [ -n "$readme" ]; then
    quick=$(doc_block "$readme" "quick start") || fail "$readme's quick start"
    if out=$(bash -e -c "$quick" 2>&1) && [ "$(tail -n 5 <<<"$out")" = "$(road_report build/release/argreport)" ]; then
        ok "$readme's quick start, as typed, reports build/release/argreport 42 x"
    else
        tail -n 40 <<<"$out"
        fail "$readme's quick start, as typed: $quick"
    fi
fi
packages=$(doc_block README.md packages) || fail "the README's command that makes the packages"
logged "$packages" bash -e -c "$packages" || finish
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/tests"
cp build/release/argreport "$work/bin/argreport"
dpkg-deb -x build/release/packages/*_amd64.deb "$work/deb"

# Helpers for the marked transcripts; the shown command reaches them on
# standard input.
cat >"$work/helpers.sh" <<'EOF'
# varies: runs the command; prints its status, and whether it printed at
# least one line and every line matches the pattern, or the lines that do not.
shape() {
    local script=$CRAMTMP/shape.sh out=$CRAMTMP/shape.out status
    cat >"$script"
    bash "$script" >"$out" 2>&1
    status=$?
    if [ -s "$out" ] && ! grep -Evq -- "$1" "$out"; then
        echo "status $status, output like the pattern"
    else
        echo "status $status, output unlike /$1/:"
        grep -Ev -- "$1" "$out" || echo "(no output)"
    fi
}
# as a terminal shows it: runs the command in a fresh tmux terminal of 100
# columns, in a UTF-8 locale, and prints the screen once it has ended, less
# its trailing empty lines. less quits at the end of what fits a screen (-F)
# and leaves it there (-X). Each terminal has a server and a socket of its
# own, and outlives it: a server told to exit still accepts on its socket
# for a moment, and a client that reached it there saw it go ("server exited
# unexpectedly"), the next no server at all.
on_terminal() {
    local script=$CRAMTMP/terminal.sh sock pid
    cat >"$script"
    sock=$(mktemp -u "$CRAMTMP/tmux-XXXXXX")
    LANG=C.UTF-8 LC_ALL=C.UTF-8 LESS=FX tmux -S "$sock" -f /dev/null new-session -d -x 100 -y 50 \
        "bash $script; tmux -S $sock wait-for -S ended; sleep 600"
    pid=$(tmux -S "$sock" display-message -p '#{pid}')
    tmux -S "$sock" wait-for ended
    tmux -S "$sock" capture-pane -p | awk '{ line[NR] = $0 } NF { last = NR } END { for (i = 1; i <= last; i++) print line[i] }'
    tmux -S "$sock" kill-server
    # Gone, or a zombie that its new parent has yet to reap.
    while [ -n "$pid" ] && [ -e "/proc/$pid" ] && [ "$(sed 's/.*) //; s/ .*//' "/proc/$pid/stat" 2>/dev/null)" != Z ]; do
        sleep 0.05
    done
    rm -f "$sock"
}
EOF

# The documents show the release of project(VERSION); this build may be a
# snapshot, and its output may name itself so, as transcripts.py allows once.
python3 docs/transcripts.py --built-as "$version=$release" "$work/tests" "${docs[@]}" ||
    fail "the transcripts could not all be read"
tests=("$work"/tests/*.t)
[ -e "${tests[0]}" ] || { fail "no transcripts found"; finish; }

# Each test starts in cram's directory for it, with a HOME of its own, the
# build tree the recipes name and the clone's tests/, as in a clone.
for t in "${tests[@]}"; do
    prologue=$'Set-up, not shown in the document.\n'
    prologue+=$'  $ . "$ARGREPORT_HELPERS"; export HOME=$PWD/home; mkdir home\n'
    prologue+=$'  $ mkdir -p build/release && cp "$ARGREPORT_BIN/argreport" build/release/\n'
    prologue+=$'  $ ln -s "$ARGREPORT_SOURCE/tests" tests\n\n'
    printf '%s' "$prologue" | cat - "$t" >"$t.new" && mv "$t.new" "$t"
done

# Container transcripts: the image of the release, built as
# docs/building.md builds it, with .ci/lib.sh's work-arounds for this
# sandbox; the README builds its image "demo" itself. The parts that use
# podman run one after another.
podman_setup() {
    local image
    # A pod of the recipe's name is one that a killed run left.
    podman pod rm -f argreport-demo >/dev/null 2>&1
    image=$(doc_block docs/building.md image) || return 1
    logged "docs/building.md's commands that build the image" bash -e -c "$image" || return 1
    podman_conf "$work/containers.conf"
    # Nor has it a syslog, of which the pod network's DNS server complains on
    # standard error. The pod needs no names: its network, which kube play
    # makes when it is missing, is made here without DNS, and removed after.
    podman network rm -f podman-default-kube-network >/dev/null 2>&1
    podman network create --disable-dns podman-default-kube-network >/dev/null
}
podman_cleanup() {
    podman pod rm -f argreport-demo >/dev/null 2>&1
    podman rmi -f demo "argreport:$image_version" "argreport:$image_version-amd64" argreport:latest >/dev/null 2>&1
    podman network rm -f podman-default-kube-network >/dev/null 2>&1
    true
}
run_test() { # a cram test: says whether it printed what the document shows
    local t=$1 doc
    doc=$(sed -n 's/^Transcripts of \([^ ,]*\).*/\1/p' "$t")
    [[ $t == *.podman.t ]] && doc+=" (with podman)"
    [[ $t == *.systemd.t ]] && doc+=" (on a machine booted with systemd)"
    if ARGREPORT_BIN=$work/bin ARGREPORT_HELPERS=$work/helpers.sh ARGREPORT_SOURCE=$PWD PATH=$work/bin:$PATH \
       CONTAINERS_CONF=$work/containers.conf \
       "$cram" --shell=bash --indent=2 "$t" >"$t.out" 2>&1; then
        ok "the transcripts of $doc: $(grep -cE '^[^ ]+:[0-9]+( \(.*\))?$' "$t") run, their output as shown"
    else
        sed "s|$work/tests/||" "$t.out"
        fail "the transcripts of $doc print something else than shown (the diff above: - shown, + printed)"
        return 1
    fi
}
export -f run_test ok fail
export work cram
plain=() machine=()
for t in "${tests[@]}"; do
    case $t in
    *.podman.t) ;;
    *.systemd.t) machine+=("$t") ;;
    *) plain+=("$t") ;;
    esac
done
# Some tests run beside the others, in the background, and report at the
# end: those on a machine booted with systemd, each document's on a machine
# of its own that docs/systemd_machine.sh boots and runs cram on (cron starts
# a job only as a minute turns, and that wait is spent while the others run);
# and, when ARGREPORT_TRANSCRIPTS_BESIDE is set (docs/check_launchers.sh sets
# it for documents that share nothing), the plain ones too.
beside=()
run_beside() { # test, then the command that runs it
    "${@:2}" >"$1.log" 2>&1 &
    beside+=("$!:$1")
}
on_machine() { # test
    export ARGREPORT_CRAM=$cram ARGREPORT_CONTAINERS_CONF=$CONTAINERS_CONF
    cram=$PWD/docs/systemd_machine.sh
    run_test "$1"
}
# The examples without podman in a mount namespace of their own, where the
# .deb's binary is in /usr/bin.
plain_tests() { # the tests
    unshare -m bash -c 'failures=0
        mount -t overlay overlay -o "lowerdir=$work/deb/usr/bin:/usr/bin" /usr/bin || { fail "the overlay of /usr/bin"; exit 1; }
        for t; do run_test "$t" || failures=$((failures + 1)); done
        exit "$failures"' _ "$@"
}
for t in "${machine[@]}"; do run_beside "$t" on_machine "$t"; done
if [ -n "${ARGREPORT_TRANSCRIPTS_BESIDE:-}" ]; then
    for t in "${plain[@]}"; do run_beside "$t" plain_tests "$t"; done
    plain=()
fi
if [ ${#plain[@]} -gt 0 ]; then
    plain_tests "${plain[@]}"
    failures=$((failures + $?))
fi

# The README's install commands, as typed, at the top of the tree, where
# the packages were built: its install block and the second column of its
# table of packages. Each runs in a mount namespace of its own, over
# overlays of /usr, /var and /etc that vanish with it, where no argreport
# was installed before, and with a HOME of its own (Debian's rpm keeps its
# database there), and must install this build's argreport on root's PATH,
# with both man pages where man finds them.
install_run() { # command, scratch directory: prints the installed program's report, note and pages
    unshare -m bash -c 'for d in usr var etc; do
            mkdir -p "$2/$d" "$2/$d.work" &&
                mount -t overlay overlay -o "lowerdir=/$d,upperdir=$2/$d,workdir=$2/$d.work" "/$d" || exit
        done
        mkdir "$2/home"
        export HOME=$2/home PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
        ! found=$(command -v argreport) || { echo "already installed: $found"; exit 1; }
        bash -e -c "$1" >"$2/log" 2>&1 || { echo "status $?:"; cat "$2/log"; exit 1; }
        argreport 42 x && echo && readelf -nW "$(command -v argreport)" && man -w argreport && man -L zh_CN -w argreport' _ "$@"
}
if [ -n "$readme" ]; then
    installs=("$(doc_block "$readme" install)") || fail "$readme's install block"
    mapfile -t -O 1 installs < <(sed -nE 's/^\| `[^`]+` \| `((dpkg|rpm|tar) [^`]+)` \|$/\1/p' "$readme")
    [ ${#installs[@]} = 4 ] || fail "$readme: $((${#installs[@]} - 1)) install commands of dpkg, rpm and tar found in its table, not 3"
    for i in "${!installs[@]}"; do
        if out=$(install_run "${installs[$i]}" "$work/install.$i" 2>&1) &&
           [ "$(head -n 5 <<<"$out")" = "$(road_report argreport)" ] &&
           grep -qF "{\"type\":\"upstream\",\"name\":\"argreport\",\"version\":\"$release\"," <<<"$out" &&
           grep -qx '.*/man1/argreport\.1\.gz' <<<"$out" && grep -qx '.*/zh_CN/man1/argreport\.1\.gz' <<<"$out"; then
            ok "$readme: ${installs[$i]//$'\n'/; } installs $release, which runs, and its man pages"
        else
            echo "$out"
            fail "$readme: ${installs[$i]//$'\n'/; } did not install $release and its man pages, or it did not run"
        fi
    done
fi

podman=()
for t in "${tests[@]}"; do [[ $t != *.podman.t ]] || podman+=("$t"); done
if [ ${#podman[@]} -gt 0 ]; then
    if podman_setup; then
        for t in "${podman[@]}"; do
            run_test "$t" || failures=$((failures + 1))
            # The pod recipe's pod, for the next document's.
            podman pod rm -f argreport-demo >/dev/null 2>&1
        done
    else
        fail "the image for the container transcripts"
    fi
    podman_cleanup
fi
for run in "${beside[@]}"; do
    wait "${run%%:*}"
    failures=$((failures + $?))
    cat "${run#*:}.log"
done
finish
