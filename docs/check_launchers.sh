#!/usr/bin/env bash
# CI part: the transcripts of docs/launchers.md and its translation, run as
# docs/check_transcripts.sh runs every document's, against the real
# launchers. The ssh section needs a server and a host to name: this part
# starts an sshd on 127.0.0.1 only, on a free port, with a host key and a
# user key made for the run, and names it "box" in root's ~/.ssh/config.
# ssh reads that from the home that the password database gives, not from
# $HOME, so root's home is a directory of the run's own, mounted over /root
# in a mount namespace of the part's own; so is /run, where sshd and sudo
# keep their state. Nothing of it outlives the run, nor do the real
# dotfiles of root reach the launchers. The container section builds on an
# image "shell", made here; the systemd, cron and at sections run on a
# machine booted with systemd (docs/systemd_machine.sh). No container, image
# or daemon of the run is left after it.
#   docs/check_launchers.sh
. "$(dirname "$0")/../.ci/lib.sh"
for tool in /usr/sbin/sshd ssh ssh-keygen ss sudo parallel watch tmux make podman podman-compose \
    ansible zsh fish busybox npm git /usr/sbin/cron at /sbin/init; do
    command -v "$tool" >/dev/null || { fail "$tool is not installed (bash .ci/setup.sh installs it)"; finish; }
done
# docs/check_transcripts.sh runs in a network namespace of its own; the sshd
# must be in the same one, so the whole part runs there.
own_network "$@"
if [ -z "${ARGREPORT_LAUNCHERS_NS:-}" ]; then
    exec unshare -m --propagation private env ARGREPORT_LAUNCHERS_NS=1 bash "$PWD/docs/check_launchers.sh" "$@"
fi

logged "cmake --workflow --preset package" cmake --workflow --preset package || finish
work=$(mktemp -d)
sshd_pid=
# The images the guide builds are those made after "shell".
stop() {
    [ -z "$sshd_pid" ] || { kill "$sshd_pid" 2>/dev/null; wait "$sshd_pid" 2>/dev/null; }
    if podman image exists shell; then
        podman images -q --filter since=shell | xargs -r podman rmi -f >/dev/null
        podman rmi -f shell >/dev/null
    fi
    # podman keeps the containers' network namespaces under /run/netns, a
    # mount of its own.
    ! mountpoint -q /run/netns || umount -R /run/netns
    rm -rf "$work"
}
trap stop EXIT
mkdir -m 700 "$work/root" "$work/root/.ssh" "$work/run"
mount --bind "$work/root" /root && mount --bind "$work/run" /run || { fail "the private /root and /run"; finish; }
ssh-keygen -q -t ed25519 -N '' -C box -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -C argreport -f /root/.ssh/id_ed25519
cp /root/.ssh/id_ed25519.pub /root/.ssh/authorized_keys
echo "box $(cat "$work/host_key.pub")" >/root/.ssh/known_hosts
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >/root/.ssh/config <<EOF
Host box
    HostName 127.0.0.1
    Port $port
    User root
    HostKeyAlias box
    StrictHostKeyChecking yes
    BatchMode yes
EOF
cat >"$work/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
PidFile none
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
PrintMotd no
EOF

# The server's side finds the .deb's /usr/bin/argreport, as the transcripts
# do, and a directory for its privilege separation. It goes when this part
# does: stopped by the trap, or sent SIGTERM by the kernel if the part is
# killed.
dpkg-deb -x build/release/packages/*_amd64.deb "$work/deb"
unshare -m bash -c 'mount -t overlay overlay -o "lowerdir=$1:/usr/bin" /usr/bin && mkdir /run/sshd &&
    exec setpriv --pdeathsig TERM /usr/sbin/sshd -D -e -f "$2"' _ "$work/deb/usr/bin" "$work/sshd_config" 2>"$work/sshd.log" &
sshd_pid=$!
for _ in $(seq 50); do
    ssh -n box true 2>/dev/null && break
    sleep 0.2
done
if ssh -n box true; then
    ok "an sshd on 127.0.0.1:$port lets root in as box"
else
    cat "$work/sshd.log"
    fail "the sshd on 127.0.0.1:$port"
    finish
fi
listening=$(ss -Hltnp | awk -v pid="pid=$sshd_pid," 'index($0, pid) { print $4 }' | sort -u)
if [ "$listening" = "127.0.0.1:$port" ]; then
    ok "the sshd listens on 127.0.0.1:$port alone"
else
    fail "the sshd listens on ${listening//$'\n'/, }, not on 127.0.0.1:$port alone"
fi

# The container section's images start from "shell": dash as /bin/sh, its C
# library, an /etc/passwd that gives root's home, and the release binary as
# /usr/bin/argreport, as in a Debian image with argreport copied in; made
# from this machine's files, as CI has no registry to pull from.
base=$work/shell
mkdir -p "$base/etc" "$base/root" "$base/usr/bin" "$base/usr/lib/x86_64-linux-gnu" "$base/usr/lib64"
echo 'root:x:0:0:root:/root:/bin/sh' >"$base/etc/passwd"
cp /usr/bin/dash build/release/argreport "$base/usr/bin/" && ln -s dash "$base/usr/bin/sh"
cp /usr/lib/x86_64-linux-gnu/{libc.so.6,ld-linux-x86-64.so.2} "$base/usr/lib/x86_64-linux-gnu/"
ln -s ../lib/x86_64-linux-gnu/ld-linux-x86-64.so.2 "$base/usr/lib64/"
for dir in bin lib lib64; do ln -s "usr/$dir" "$base/$dir"; done
podman rmi -f shell >/dev/null 2>&1
logged "the image shell" bash -c 'tar -C "$1" -c . | podman import -q - shell' _ "$base" || finish

ARGREPORT_TRANSCRIPTS_BESIDE=1 bash docs/check_transcripts.sh docs/launchers.md docs/launchers.zh-CN.md || fail "the transcripts of the launchers' guide"
left=$(podman ps -a --format '{{.Names}}')
if [ -z "$left" ]; then
    ok "the transcripts leave no container"
else
    fail "the transcripts leave containers: ${left//$'\n'/, }"
    podman rm -f -t 0 $left >/dev/null
fi
finish
