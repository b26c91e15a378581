#!/usr/bin/env bash
# Runs cram on a machine booted with systemd, for the transcripts that start
# units, install a crontab or queue an at job: docs/check_transcripts.sh
# calls it in cram's place, with cram's arguments, the real cram in
# ARGREPORT_CRAM and podman's configuration in ARGREPORT_CONTAINERS_CONF
# (that of the container transcripts is written later). The machine is a
# container whose root is this machine's own, read-only under an overlay
# that takes its writes and goes with it, with empty /tmp, /run and
# /var/tmp, no network, and systemd as PID 1 starting journald, cron and
# atd, and the D-Bus that systemd-run needs, on demand. It sees the test's
# directory and what the test's prologue names at the same paths as here
# (the source tree read-only), and the release binary as
# /usr/bin/argreport, as the documents assume. It is removed when cram
# ends, and a killed run's by the next one; nothing of it reaches the
# machine it runs on, and its podman storage is the tree's (.ci/lib.sh).
#   ARGREPORT_CRAM=CRAM docs/systemd_machine.sh CRAM-OPTION... TEST
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
export CONTAINERS_CONF=$ARGREPORT_CONTAINERS_CONF
test=${*: -1}
tests=$(cd "$(dirname "$test")" && pwd)
name=argreport-machine-$(basename "$test" .systemd.t | tr -c 'A-Za-z0-9.\n-' _)
if [ -z "${ARGREPORT_MACHINE_NS:-}" ]; then
    exec unshare -m --propagation private env ARGREPORT_MACHINE_NS=1 bash "$0" "$@"
fi
podman rm -f -t 0 "$name" >/dev/null 2>&1
work=$(mktemp -d)
# Only the overlay's own directories are removed: its mount point goes by
# rmdir, which leaves it alone should it still be mounted.
trap 'podman rm -f -t 0 "$name" >/dev/null 2>&1; umount "$work/root"; rm -rf "$work/upper" "$work/overlay"; rmdir "$work/root" "$work"' EXIT
mkdir "$work/upper" "$work/overlay" "$work/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/overlay" "$work/root" || exit 1
cat >"$work/root/etc/systemd/system/transcripts.target" <<'EOF'
[Unit]
Description=What the transcripts use
Wants=systemd-journald.service cron.service atd.service dbus.socket
EOF
# podman empties /tmp and /run for systemd on its own, but with a copy of
# what the root had there, which is this machine's.
empty=()
for dir in /tmp /run /var/tmp; do empty+=(--tmpfs "$dir:rw,notmpcopyup"); done
shared=() last=
while read -r dir; do
    [ -n "$last" ] && [[ $dir == "$last"/* ]] && continue
    shared+=(-v "$dir:$dir") last=$dir
done < <(printf '%s\n' "$tests" "$(dirname "$ARGREPORT_HELPERS")" "$ARGREPORT_BIN" | LC_ALL=C sort -u)
podman run -d -q --name "$name" --network=none --systemd=always "${empty[@]}" "${shared[@]}" \
    -v "$ARGREPORT_SOURCE:$ARGREPORT_SOURCE:ro" -v "$ARGREPORT_BIN/argreport:/usr/bin/argreport:ro" --rootfs "$work/root" /sbin/init --unit=transcripts.target >/dev/null ||
    exit 1
# Its manager answers once it has set up its socket, and says running once
# the target is reached.
for _ in $(seq 100); do
    state=$(podman exec "$name" systemctl is-system-running --wait 2>/dev/null) && break
    sleep 0.1
done
[ "${state:-}" = running ] || { echo "the machine is ${state:-not up}:"; podman exec "$name" systemctl --failed --no-pager; exit 1; }
podman exec -w "$PWD" -e ARGREPORT_BIN -e ARGREPORT_HELPERS -e ARGREPORT_SOURCE "$name" "$ARGREPORT_CRAM" "$@"
