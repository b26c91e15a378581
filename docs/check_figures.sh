#!/usr/bin/env bash
# CI part: the sizes, the counts of writes and the version that the
# documents name are those of the release this tree would make. The
# documents name a release's files (argreport_1.0.0-1_amd64.deb), so the
# figures are taken from one: a temporary clone of this commit, with the working tree's changes to tracked
# files, tagged vVERSION there, whose packages of every architecture are
# built through their presets (the cross compilers and musl of each
# architecture must be installed: see docs/architectures.md). A snapshot's
# longer version makes other sizes.
#   docs/check_figures.sh           compare, and fail on any difference
#   docs/check_figures.sh --write   write the built figures into the documents
# Each figure is compared as the document prints it: a size in kB rounded
# to whole kB, and no nearer. Every edit of a README changes the packages,
# which hold both READMEs: run it with --write then, and commit what it
# changed. The packages also take the commit's time, so a commit can move a
# size by a few bytes, and rarely across a rounding boundary: run --write
# again then.
. "$(dirname "$0")/../.ci/lib.sh"
write=0
[ "${1:-}" = --write ] && write=1
mapfile -t arches < <(all_targets | cut -d' ' -f1)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tagged=$work/tagged
tagged_clone "$tagged" || { fail "a clone tagged v$version"; finish; }
git diff --binary HEAD | git -C "$tagged" apply --allow-empty || fail "the working tree's changes do not apply to a clone"
named=$(cd "$tagged" && cmake -P cmake/version.cmake)
[ "$named" = "$version" ] || fail "the clone tagged v$version builds $named, not the release"
# build DESCRIPTION COMMAND...: in the tagged clone, its log shown on failure.
build() { logged "$1, tagged v$version" bash -c 'cd "$0" && "$@"' "$tagged" "${@:2}"; }
while read -r arch _ _ _ _ _ _ _ _ package <&3; do
    build "ARGREPORT_TARGET=$arch cmake --workflow --preset $package" \
        env ARGREPORT_TARGET="$arch" cmake --workflow --preset "$package"
done 3< <(all_targets)
# Builds that the documents compare the release with, each in a tree of its
# own: without the package note, and the 64 KiB-page targets linked for
# 4 KiB pages or without RELRO.
build "the release without the package note" bash -c \
    'cmake --preset release -B build/no-note -DARGREPORT_PACKAGE_NOTE=OFF && cmake --build build/no-note'
for arch in arm64 ppc64el; do
    for flag in max-page-size=4096 norelro; do
        build "$arch's release with -z $flag" env LDFLAGS="-Wl,-z,$flag" ARGREPORT_TARGET="$arch" bash -c \
            'cmake --preset release-cross -B "build/$0-$1" && cmake --build "build/$0-$1"' "$arch" "$flag"
    done
done
[ "$failures" = 0 ] || finish

grouped() { sed ':a; s/\([0-9]\)\([0-9]\{3\}\)\($\|,\)/\1,\2\3/; ta' <<<"$1"; } # 18072 -> 18,072
kB() { echo $(( ($1 + 500) / 1000 )); }
KiB() { echo $(( ($1 + 512) / 1024 )); }
tree() { echo "$tagged/$(all_targets | awk -v a="$1" '$1 == a { print $8 }')"; }
triple() { all_targets | awk -v a="$1" '$1 == a { print $2 }'; }
packaged_binary() { # arch: the size of the stripped binary in its .deb
    dpkg-deb --fsys-tarfile "$(tree "$1")"/packages/*.deb | tar -xOf - ./usr/bin/argreport | wc -c
}
stripped_size() { # strip program, binary: its size stripped as the packages strip it
    "$1" -R .comment -o "$work/stripped" "$2" && stat -c %s "$work/stripped"
}
# A figure in a document: the document, an ERE that finds its one line, in
# which the first parenthesised group is the figure, the figure as the
# build gives it, printed as the document prints it, and what it is.
figure() {
    local doc=$1 pattern=$2 built=$3
    local lines shown
    lines=$(grep -cE "$pattern" "$doc")
    if [ "$lines" != 1 ]; then
        fail "$doc: $lines lines match /$pattern/, not one"
        return
    fi
    shown=$(grep -E "$pattern" "$doc" | sed -E "s/^.*${pattern#^}.*\$/\1/")
    [ "${pattern:0:1}" = '^' ] && shown=$(grep -E "$pattern" "$doc" | sed -E "s/${pattern}.*\$/\1/")
    if [ "$shown" = "$built" ]; then
        ok "$doc: $shown, as built ($4)"
    elif [ $write = 1 ]; then
        local before=${pattern%%'([0-9,]+)'*} after=${pattern#*'([0-9,]+)'}
        sed -i -E "s/(${before})[0-9,]+(${after})/\1${built}\2/" "$doc"
        ok "$doc: $shown rewritten as $built ($4)"
    else
        fail "$doc shows $shown where the build gives $built ($4; docs/check_figures.sh --write writes it)"
    fi
}
declare -A deb rpm tgz bin
for arch in "${arches[@]}"; do
    dir=$(tree "$arch")/packages
    deb[$arch]=$(stat -c %s "$dir"/*.deb) rpm[$arch]=$(stat -c %s "$dir"/*.rpm) tgz[$arch]=$(stat -c %s "$dir"/*.tar.gz)
    bin[$arch]=$(packaged_binary "$arch")
    figure docs/architectures.md "^\| $arch \|[^|]*\|[^|]*\| ([0-9,]+) bytes \|" "$(grouped "${bin[$arch]}")" "$arch binary, ${bin[$arch]} bytes"
    figure docs/building.md "^\| $arch \| ([0-9,]+) \|" "$(kB "${deb[$arch]}")" "$arch .deb, ${deb[$arch]} bytes"
    figure docs/building.md "^\| $arch \| [0-9,]+ \| ([0-9,]+) \|" "$(kB "${rpm[$arch]}")" "$arch .rpm, ${rpm[$arch]} bytes"
    figure docs/building.md "^\| $arch \| [0-9,]+ \| [0-9,]+ \| ([0-9,]+) \|" "$(kB "${tgz[$arch]}")" "$arch tarball, ${tgz[$arch]} bytes"
done
binary=$tagged/build/release/argreport
unstripped=$(stat -c %s "$binary")
figure docs/building.md "debugging information: ([0-9,]+) bytes" "$(grouped "$unstripped")" "amd64 binary, unstripped"
figure docs/building.md "bytes instead of ([0-9,]+)\." "$(grouped "${bin[amd64]}")" "amd64 binary, stripped"
figure docs/performance.md "^system calls\), ([0-9,]+) bytes stripped on x86-64" "$(grouped "${bin[amd64]}")" "amd64 binary, stripped"
figure docs/performance.md "^release binary was then, as it is now, [0-9,]+ bytes stripped, ([0-9,]+) as$" "$(grouped "${bin[amd64]}")" "amd64 binary, stripped"
# strip alone keeps the compiler's .comment, which the packages drop.
with_comment=$(strip -o "$work/with-comment" "$binary" && stat -c %s "$work/with-comment")
figure docs/performance.md "^release binary was then, as it is now, ([0-9,]+) bytes stripped" "$(grouped "$with_comment")" "amd64 binary, stripped but for .comment"
figure docs/hardening-audit.md "same size \(([0-9,]+) and [0-9,]+ bytes as packaged" "$(grouped "${bin[amd64]}")" "amd64 binary, stripped"
figure docs/hardening-audit.md "same size \([0-9,]+ and ([0-9,]+) bytes as packaged" "$(grouped "${bin[arm64]}")" "arm64 binary, stripped"
note=$(( bin[amd64] - $(stripped_size strip "$tagged/build/no-note/argreport") ))
figure docs/building.md "^adds ([0-9,]+) bytes to the binary" "$note" "the package note, amd64"
figure docs/performance.md "^The package note .* adds ([0-9,]+) bytes" "$note" "the package note, amd64"
# The stack protector's canary loads, in the whole of the packaged binary.
dpkg-deb --fsys-tarfile "$(tree amd64)"/packages/*.deb | tar -xOf - ./usr/bin/argreport >"$work/packaged"
loads=$(objdump -d "$work/packaged" | grep -c '%fs:0x28')
figure docs/hardening-audit.md "%fs:0x28. on x86-64, ([0-9,]+) such loads" "$loads" "loads of the canary"

# The members of musl's libc.a that the linker took, as the SBOM lists them.
python3 -B packaging/release/sbom.py --libc-members "$tagged/build/release/argreport.map" | sort -u >"$work/members"
figure docs/releasing.md 'holds \(([0-9,]+) members of `libc.a`' "$(wc -l <"$work/members")" "libc.a members in the amd64 binary"
check "docs/releasing.md: none of the members of libc.a in the amd64 binary is iconv's" bash -c '! grep -q iconv "$1"' _ "$work/members"

# The 64 KiB-page targets, in KiB, and their packages against the others'.
figure docs/architectures.md "binaries are about ([0-9,]+) KiB because" "$(KiB "${bin[arm64]}")" "arm64 binary, ${bin[arm64]} bytes"
figure docs/architectures.md "binaries are about ([0-9,]+) KiB because" "$(KiB "${bin[ppc64el]}")" "ppc64el binary, ${bin[ppc64el]} bytes"
for arch in arm64 ppc64el; do
    figure docs/hardening.md "makes those two binaries about ([0-9,]+) KiB" "$(KiB "${bin[$arch]}")" "$arch binary, ${bin[$arch]} bytes"
done
larger=0
for kind in deb rpm tgz; do
    declare -n size=$kind
    small=$(printf '%s\n' "${size[amd64]}" "${size[armhf]}" "${size[i386]}" "${size[s390x]}" | sort -n | head -1)
    large=$(printf '%s\n' "${size[arm64]}" "${size[ppc64el]}" | sort -n | tail -1)
    [ $((large - small)) -gt "$larger" ] && larger=$((large - small))
    unset -n size
done
figure docs/architectures.md "^ *([0-9,]+) kB larger than the other architectures" "$(( (larger + 999) / 1000 ))" \
    "at most $larger bytes more, rounded up"
for arch in arm64 ppc64el; do
    figure docs/architectures.md "would make them about ([0-9,]+) kB" \
        "$(kB "$(stripped_size "$(triple "$arch")-strip" "$tagged/build/$arch-max-page-size=4096/argreport")")" "$arch with -z max-page-size=4096"
done
figure docs/architectures.md "would make them ([0-9,]+) kB \(arm64\)" \
    "$(kB "$(stripped_size "$(triple arm64)-strip" "$tagged/build/arm64-norelro/argreport")")" "arm64 with -z norelro"
figure docs/architectures.md "kB \(arm64\) and ([0-9,]+) kB \(ppc64el\)" \
    "$(kB "$(stripped_size "$(triple ppc64el)-strip" "$tagged/build/ppc64el-norelro/argreport")")" "ppc64el with -z norelro"

# The writes of reports around the buffer's size and of xargs's runs, counted
# with strace: they depend on the report alone, not on the machine. Printed
# as "NAME VALUE" lines, each value as the document prints it.
mkdir "$work/bin" && cp "$tagged/build/release/argreport" "$work/bin/argreport"
counts=$(cd "$work" && PATH=$work/bin:$PATH python3 - <<'EOF'
import collections, re, subprocess

def grouped(n):
    return f'{n:,}'

def size(args):
    return len(subprocess.run(['argreport'] + args, capture_output=True, check=True).stdout)

def traced(command):
    """The sizes of the writes to standard output, a list for each process."""
    if isinstance(command, list):
        command = ['strace', '-f', '-qq', '-e', 'trace=write', '-o', 'trace'] + command
    subprocess.run(command, shell=isinstance(command, str), stdout=subprocess.DEVNULL, check=True)
    writes, pending = collections.defaultdict(list), set()
    for line in open('trace'):
        m = re.match(r'(\d+) +write\(1, .*\) += (\d+)$', line)
        if m:
            writes[m[1]].append(int(m[2]))
        elif re.match(r'(\d+) +write\(1, .*<unfinished \.\.\.>$', line):
            pending.add(line.split()[0])
        elif (m := re.match(r'(\d+) +<\.\.\. write resumed>.*\) += (\d+)$', line)) and m[1] in pending:
            pending.discard(m[1])
            writes[m[1]].append(int(m[2]))
    return list(writes.values())

def report_of(entries, target):
    """Arguments whose report has that many entries and bytes, or None."""
    args = ['1'] + [''] * (entries - 2)
    extra = target - size(args)
    if extra < 0:
        return None
    for i in range(entries - 2):
        args[1 + i] = 'x' * (extra // (entries - 2) + (i < extra % (entries - 2)))
    return args

most = 3
while report_of(most + 1, 16383):
    most += 1
made = [report_of(entries, target) for entries in (3, 100, 200, 300, 400, 565) for target in range(16330, 16384)]
made = [args for args in made if args]
sizes = [size(args) for args in made]
print('made', len(made), '\nsmallest', grouped(min(sizes)), '\nlargest', grouped(max(sizes)))
print('fewest', min(len(args) + 1 for args in made), '\nmost_used', max(len(args) + 1 for args in made))
print('most', most, '\none', sum(len(traced(['argreport'] + args)[0]) == 1 for args in made))
short = report_of(300, 16384)
print('exact', grouped(size(short)), '\nexact_short', len(traced(['argreport'] + short)[0]))
long = ['7', 'x' * (16384 - size(['7', '']))]
writes = traced(['argreport'] + long)[0]
print('exact_long', len(writes), '\nlong_first', grouped(writes[0]), '\nlong_last', grouped(writes[-1]))
for n in (460, 1000):
    reports = traced(f'seq 1 200000 | strace -f -qq -e trace=write -o trace xargs -P 8 -n {n} argreport')
    reports.sort(key=sum) # the first run's report, of the shortest numbers, is the smallest
    print(f'n{n}_reports', len(reports), f'\nn{n}_smallest', grouped(sum(reports[0])),
          f'\nn{n}_largest', grouped(sum(reports[-1])))
    print(f'n{n}_one', sum(len(r) == 1 for r in reports), f'\nn{n}_three', sum(len(r) == 3 for r in reports))
    print(f'n{n}_first_writes', len(reports[0]), f'\nn{n}_first_a', grouped(reports[0][0]),
          f'\nn{n}_first_b', grouped(reports[0][-1]))
EOF
) || fail "the writes could not be counted under strace"
count() { awk -v k="$1" '$1 == k { print $2 }' <<<"$counts"; }
perf=docs/performance.md
figure $perf 'one `write`: of ([0-9,]+)$' "$(count made)" "reports made just under 16 KiB"
figure $perf "^reports of ([0-9,]+) to" "$(count smallest)" "the smallest of them"
figure $perf "^reports of [0-9,]+ to ([0-9,]+) bytes" "$(count largest)" "the largest of them"
figure $perf "bytes, of ([0-9,]+) to [0-9,]+ entries" "$(count fewest)" "the fewest entries of them"
figure $perf "bytes, of [0-9,]+ to ([0-9,]+) entries" "$(count most_used)" "the most entries of them"
figure $perf "^at most ([0-9,]+)\), " "$(count most)" "the most entries of a report under 16 KiB"
figure $perf "^at most [0-9,]+\), ([0-9,]+) went out in one write" "$(count one)" "of them, those in one write"
figure $perf "^One of exactly ([0-9,]+) bytes" "$(count exact)" "a report of the buffer's size"
figure $perf "went out in ([0-9,]+) write when its entries were short" "$(count exact_short)" "its writes, of short entries"
figure $perf "^and in ([0-9,]+), of" "$(count exact_long)" "its writes, its last entry long"
figure $perf "^and in [0-9,]+, of ([0-9,]+) and" "$(count long_first)" "the first of them"
figure $perf "^and in [0-9,]+, of [0-9,]+ and ([0-9,]+) bytes" "$(count long_last)" "the last of them"
for n in 460 1000; do
    figure $perf "xargs -P 8 -n $n argreport\`: ([0-9,]+) reports of" "$(count "n${n}_reports")" "xargs -n $n: reports"
    figure $perf "xargs -P 8 -n $n argreport\`: [0-9,]+ reports of ([0-9,]+) to\$" "$(count "n${n}_smallest")" "xargs -n $n: the smallest"
done
figure $perf "^  ([0-9,]+) bytes, [0-9,]+ of them in one write" "$(count n460_largest)" "xargs -n 460: the largest"
figure $perf "^  [0-9,]+ bytes, ([0-9,]+) of them in one write" "$(count n460_one)" "xargs -n 460: reports in one write"
figure $perf "^  ([0-9,]+) bytes, the first, of" "$(count n1000_largest)" "xargs -n 1000: the largest"
figure $perf "the first, of ([0-9,]+), in" "$(count n1000_smallest)" "xargs -n 1000: the first, the smallest"
figure $perf "the first, of [0-9,]+, in ([0-9,]+) writes" "$(count n1000_first_writes)" "xargs -n 1000: the first's writes"
figure $perf "writes \(([0-9,]+) and [0-9,]+ bytes\)" "$(count n1000_first_a)" "xargs -n 1000: the first's first write"
figure $perf "writes \([0-9,]+ and ([0-9,]+) bytes\)" "$(count n1000_first_b)" "xargs -n 1000: the first's last write"
figure $perf "^  ([0-9,]+) in 3; " "$(count n1000_three)" "xargs -n 1000: reports in 3 writes"

# find -exec {} +'s runs stop at about 128 KiB of arguments, their NULs
# counted; the system allows some 2 MB, as xargs --show-limits says.
find_run=$(cd "$work" && PATH=$work/bin:$PATH find /usr/share/doc -type f -exec argreport {} + |
    awk '/^argc = / { if (bytes > most) most = bytes; bytes = 0; next } /^num = / { next }
         { sub(/^[^:]*:/, ""); bytes += length($0) + 1 } END { if (bytes > most) most = bytes; print most }')
system=$(xargs --show-limits </dev/null 2>&1 | sed -n 's/^POSIX upper limit on argument length (this system): //p')
for doc in README.md README.zh-CN.md argreport.1.in argreport.zh_CN.1.in; do
    case $doc in
    README.md) kib="GNU find stops at about ([0-9,]+) KiB of" mb="far below the ([0-9,]+) MB or so" ;;
    README.zh-CN.md) kib="参数累计到约 ([0-9,]+) KiB" mb="远低于系统允许的 ([0-9,]+) MB" ;;
    argreport.1.in) kib='stops at about ([0-9,]+)\\ KiB' mb= ;;
    argreport.zh_CN.1.in) kib='累计到约 ([0-9,]+)\\~KiB' mb= ;;
    esac
    figure "$doc" "$kib" "$(KiB "$find_run")" "find -exec {} +: at most $find_run bytes of arguments a run"
    [ -z "$mb" ] || figure "$doc" "$mb" "$(( (system + 500000) / 1000000 ))" "the system's limit, $system bytes"
done

# The output buffer, whose size the build gives the program and the tests.
buffer=$(grouped "$(sed -n 's/^set(ARGREPORT_BUFFER_SIZE \([0-9]*\))$/\1/p' CMakeLists.txt)")
figure README.md 'shorter than 16 KiB \(([0-9,]+) bytes\)' "$buffer" "the output buffer"
figure argreport.1.in 'shorter than 16\\ KiB \(([0-9,]+) bytes\)' "$buffer" "the output buffer"
figure README.zh-CN.md '短于 16 KiB（([0-9,]+) 字节）' "$buffer" "the output buffer"
figure argreport.zh_CN.1.in '短于 16\\~KiB（([0-9,]+) 字节）' "$buffer" "the output buffer"
figure docs/performance.md 'One of exactly ([0-9,]+) bytes went out' "$buffer" "the output buffer"
# PIPE_BUF, the most a write to a pipe is atomic for.
pipe_buf=$(grouped "$(getconf PIPE_BUF /)")
figure README.md '`PIPE_BUF` bytes \(([0-9,]+) on Linux\)' "$pipe_buf" "PIPE_BUF"
figure docs/performance.md '`PIPE_BUF` bytes \(([0-9,]+) on Linux\)' "$pipe_buf" "PIPE_BUF"
figure argreport.1.in '^bytes \(([0-9,]+) on Linux\)' "$pipe_buf" "PIPE_BUF"
figure README.zh-CN.md '（Linux 上为 ([0-9,]+)）' "$pipe_buf" "PIPE_BUF"
figure argreport.zh_CN.1.in '（Linux 上为 ([0-9,]+)）' "$pipe_buf" "PIPE_BUF"

# The qemu that runs the foreign architectures' tests, as the table names it.
while read -r arch _ qemu _; do
    shown=$(sed -n "s/^| $arch |.*| under qemu-user \([0-9.]*\) |\$/\1/p" docs/architectures.md)
    used=$("qemu-$qemu-static" --version | sed -n '1s/.* version \([0-9]*\.[0-9]*\).*/\1/p')
    if [ -n "$used" ] && [ "$shown" = "$used" ]; then
        ok "docs/architectures.md: $arch is tested under qemu-user $shown, as installed"
    else
        fail "docs/architectures.md says $arch is tested under qemu-user ${shown:-(no version)}, where qemu-$qemu-static is ${used:-missing}"
    fi
done < <(foreign_targets | grep -v '^i386 ')

# The version is written once, in project(); every document names that one.
others=$(grep -noE '(argreport[-_:]|"version":"|argreport )[0-9]+\.[0-9]+\.[0-9]+' README.md README.zh-CN.md docs/*.md \
    | grep -vE "[-_:\" ]$version\$" || true)
if [ -z "$others" ]; then
    ok "README.md, README.zh-CN.md and docs/*.md name version $version alone"
else
    fail "other versions than $version named: $others"
fi
finish
