#!/usr/bin/env bash
# Signs a file of the release with an OpenPGP key, so that signing the same
# file again, with the same key, gives the same bytes: a published name
# never comes to hold a second signature. The signature is dated EPOCH, the
# release's own time (its commit's, or a rebuild's SOURCE_DATE_EPOCH), or
# when the key was made, if that is later. Ed25519 and RSA signatures of
# the same bytes at the same time are the same bytes; this gpg's DSA and
# ECDSA ones are too (its library derives their nonces from the key and
# the data), but not every implementation's: every signature is made twice
# and compared, which stops a key or a gpg whose signatures differ each
# time before anything is published with it.
#   packaging/release/sign.sh KEY EPOCH --detach FILE OUT   OUT: FILE's armoured detached signature
#   packaging/release/sign.sh KEY EPOCH --clear FILE OUT    OUT: FILE, clear-signed
#   packaging/release/sign.sh KEY EPOCH --rpm FILE...       each RPM, signed in place (rpmsign)
#   packaging/release/sign.sh KEY EPOCH --raw               standard input's binary detached signature, on standard output
# KEY is anything gpg takes for a secret key of the caller's keyring
# (GNUPGHOME is honoured).
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 KEY EPOCH --detach FILE OUT | --clear FILE OUT | --rpm FILE... | --raw" >&2; exit 2; }
key=$1 epoch=$2 mode=$3
shift 3
say() { echo "sign.sh: $*" >&2; }
# The newest of the key's usable signing keys (the primary or a subkey) is
# the one gpg signs with.
made=$(gpg --batch --with-colons --list-secret-keys "$key" 2>/dev/null |
    awk -F: '($1 == "sec" || $1 == "ssb") && $12 ~ /s/ && $2 !~ /[erd]/ && $6 > newest { newest = $6 } END { print newest + 0 }')
[ "$made" != 0 ] || { say "no secret key '$key' that can sign in ${GNUPGHOME:-~/.gnupg}"; exit 1; }
when=$((epoch > made ? epoch : made))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gpg_sign() { # gpg's options for what to make; the data on standard input, the signature on standard output
    gpg --batch --quiet --no-tty --faked-system-time "$when!" --local-user "$key" "$@" --output - 2>"$work/gpg.log" ||
        { grep -v 'faked system time' "$work/gpg.log" >&2; say "gpg could not sign with $key"; exit 1; }
}
twice() { # name, then gpg's options: the signature, made twice and compared, on standard output
    local what=$1
    shift
    gpg_sign "$@" <"$work/in" >"$work/one"
    gpg_sign "$@" <"$work/in" >"$work/two"
    cmp -s "$work/one" "$work/two" ||
        { say "$key signs $what differently each time, so that signing the release again would give other bytes: sign with a key and a gpg whose signatures are the same every time (Ed25519 or RSA)"; exit 1; }
    cat "$work/one"
}
case $mode in
--detach | --clear)
    [ $# = 2 ] || { say "$mode takes FILE OUT"; exit 2; }
    cp "$1" "$work/in"
    if [ "$mode" = --detach ]; then
        twice "$1" --armor --detach-sign >"$work/out"
    else
        twice "$1" --clearsign >"$work/out"
    fi
    mv "$work/out" "$2"
    ;;
--raw)
    cat >"$work/in"
    twice "its input" --detach-sign
    ;;
--rpm)
    # The key and the gpg are the same for every package: the first is
    # signed twice.
    copies=(one two)
    for rpm in "$@"; do
        for copy in "${copies[@]}"; do
            cp "$rpm" "$work/$copy.rpm"
            rpmsign --addsign --define "__gpg $(command -v gpg)" --define "_gpg_name $key" \
                --define "_gpg_sign_cmd_extra_args --faked-system-time $when!" "$work/$copy.rpm" \
                </dev/null >"$work/rpmsign.log" 2>&1 || { cat "$work/rpmsign.log" >&2; say "rpmsign could not sign $rpm"; exit 1; }
        done
        [ ${#copies[@]} = 1 ] || cmp -s "$work/one.rpm" "$work/two.rpm" ||
            { say "$key signs $rpm differently each time, so that signing the release again would give other bytes: sign with a key and a gpg whose signatures are the same every time (Ed25519 or RSA)"; exit 1; }
        mv "$work/one.rpm" "$rpm"
        copies=(one)
    done
    ;;
*)
    say "no mode $mode"
    exit 2
    ;;
esac
