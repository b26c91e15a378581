#!/usr/bin/env bash
# Installs what .ci/tools lists and this machine lacks (Debian; as root).
# Run by another user, it only says what is missing.
#   bash .ci/setup.sh
. "$(dirname "$0")/lib.sh"
absent() { # a file, an architecture's package, or a command
    case $1 in
    /*) [ ! -e "$1" ] ;;
    *:*) ! dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed' ;;
    *) ! command -v "$1" >/dev/null ;;
    esac
}
lacking() { # prints "ARCH PACKAGE" for each package that is not there
    local shows package rows row arch triple qemu s p
    while read -r shows package; do
        case $shows in '' | '#'*) continue ;; esac
        rows=("- - -")
        [[ $shows$package == *'{'* ]] && mapfile -t rows < <(foreign_targets)
        for row in "${rows[@]}"; do
            read -r arch triple _ _ _ _ qemu _ <<<"$row"
            s=${shows//\{arch\}/$arch} p=${package//\{arch\}/$arch}
            s=${s//\{triple\}/$triple} p=${p//\{triple\}/$triple}
            s=${s//\{qemu\}/$qemu} p=${p//\{qemu\}/$qemu}
            if absent "$s"; then echo "$arch $p"; fi
        done
    done <.ci/tools
}
mapfile -t need < <(lacking | sort -u)
if [ ${#need[@]} -gt 0 ] && [ "$(id -u)" = 0 ]; then
    packages=()
    for line in "${need[@]}"; do
        read -r arch package <<<"$line"
        # A package of another architecture needs that architecture added.
        if [[ $package == *:* ]] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            dpkg --add-architecture "$arch"
        fi
        packages+=("$package")
    done
    mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sort -u)
    echo "installing ${packages[*]}"
    started=$SECONDS
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${packages[@]}"
    echo "installed in $((SECONDS - started)) s"
fi
# The Chinese manual's checks read it in a Chinese UTF-8 locale, which no
# package brings: Debian compiles the ones asked for.
if ! locale -a | grep -qix 'zh_CN.utf8' && [ "$(id -u)" = 0 ]; then
    logged "localedef -i zh_CN -f UTF-8 zh_CN.UTF-8" localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
still=$( (lacking | cut -d' ' -f2-; locale -a | grep -qix 'zh_CN.utf8' || echo "the zh_CN.UTF-8 locale") |
    sort -u | tr '\n' ' ')
if [ -z "$still" ]; then
    ok "every tool in .ci/tools is installed"
else
    fail "not installed: $still"
    [ "$(id -u)" = 0 ] || echo "(root installs them: bash .ci/setup.sh)"
fi
finish
