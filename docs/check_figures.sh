#!/usr/bin/env bash
# CI part: the sizes and the version that the documents name are those of
# the artefacts this commit builds. The release and the packages of every
# architecture are built through their presets, reusing build trees that are
# already there (the cross compilers and musl of each architecture must be
# installed: see docs/architectures.md).
#   docs/check_figures.sh           compare, and fail on any difference
#   docs/check_figures.sh --write   write the built figures into the documents
# Every edit of a README changes the packages, which hold both READMEs: run
# it with --write then, and commit what it changed.
. "$(dirname "$0")/../.ci/lib.sh"
write=0
[ "${1:-}" = --write ] && write=1
arches=(amd64 arm64 armhf i386 ppc64el s390x)

for arch in "${arches[@]}"; do
    preset=package-$arch
    [ "$arch" = amd64 ] && preset=package
    logged "cmake --workflow --preset $preset" cmake --workflow --preset "$preset"
done
[ "$failures" = 0 ] || finish

grouped() { sed ':a; s/\([0-9]\)\([0-9]\{3\}\)\($\|,\)/\1,\2\3/; ta' <<<"$1"; } # 18072 -> 18,072
tree() { if [ "$1" = amd64 ]; then echo build/release; else echo "build/release-$1"; fi; }
packaged_binary() { # arch: the size of the stripped binary in its .deb
    dpkg-deb --fsys-tarfile "$(tree "$1")"/packages/*.deb | tar -xOf - ./usr/bin/argreport | wc -c
}
# A figure in a document: the document, an ERE that finds its one line, in
# which the first parenthesised group is the figure, the built value in
# bytes, and what it is. With KB=1 the figure is in kB, "about": it holds
# when it is within 1 kB of the built size, as the packages take the commit's
# time into their timestamps and so change by a few bytes from commit to
# commit, the commit that writes the figures among them.
figure() {
    local doc=$1 pattern=$2 built bytes=$3
    built=$(grouped "$bytes")
    [ "${KB:-0}" = 1 ] && built=$(( (bytes + 500) / 1000 ))
    local lines shown
    lines=$(grep -cE "$pattern" "$doc")
    if [ "$lines" != 1 ]; then
        fail "$doc: $lines lines match /$pattern/, not one"
        return
    fi
    shown=$(grep -E "$pattern" "$doc" | sed -E "s/^.*${pattern#^}.*\$/\1/")
    [ "${pattern:0:1}" = '^' ] && shown=$(grep -E "$pattern" "$doc" | sed -E "s/${pattern}.*\$/\1/")
    if [ "$shown" = "$built" ] ||
       { [ $write = 0 ] && [ "${KB:-0}" = 1 ] && [ -n "$shown" ] && [ $((${shown//,/} * 1000 - bytes)) -lt 1000 ] &&
         [ $((bytes - ${shown//,/} * 1000)) -lt 1000 ]; }; then
        ok "$doc: $shown, as built ($4: $(grouped "$bytes") bytes)"
    elif [ $write = 1 ]; then
        local before=${pattern%%'([0-9,]+)'*} after=${pattern#*'([0-9,]+)'}
        sed -i -E "s/(${before})[0-9,]+(${after})/\1${built}\2/" "$doc"
        ok "$doc: $shown rewritten as $built ($4)"
    else
        fail "$doc shows $shown where the build gives $built ($4; docs/check_figures.sh --write writes it)"
    fi
}
for arch in "${arches[@]}"; do
    dir=$(tree "$arch")/packages
    figure docs/architectures.md "^\| $arch \|[^|]*\|[^|]*\| ([0-9,]+) bytes \|" "$(packaged_binary "$arch")" "$arch binary"
    KB=1 figure docs/building.md "^\| $arch \| ([0-9,]+) \|" "$(stat -c %s "$dir"/*.deb)" "$arch .deb"
    KB=1 figure docs/building.md "^\| $arch \| [0-9,]+ \| ([0-9,]+) \|" "$(stat -c %s "$dir"/*.rpm)" "$arch .rpm"
    KB=1 figure docs/building.md "^\| $arch \| [0-9,]+ \| [0-9,]+ \| ([0-9,]+) \|" "$(stat -c %s "$dir"/*.tar.gz)" "$arch tarball"
done
figure docs/building.md "debugging information: ([0-9,]+) bytes" "$(stat -c %s build/release/argreport)" "amd64 binary, unstripped"
figure docs/building.md "bytes instead of ([0-9,]+)\." "$(packaged_binary amd64)" "amd64 binary, stripped"
figure docs/performance.md "^system calls\), ([0-9,]+) bytes stripped on x86-64" "$(packaged_binary amd64)" "amd64 binary, stripped"

# The version is written once, in project(); every document names that one.
others=$(grep -noE '(argreport[-_:]|"version":"|argreport )[0-9]+\.[0-9]+\.[0-9]+' README.md README.zh-CN.md docs/*.md \
    | grep -vE "[-_:\" ]$version\$" || true)
if [ -z "$others" ]; then
    ok "README.md, README.zh-CN.md and docs/*.md name version $version alone"
else
    fail "other versions than $version named: $others"
fi
finish
