#!/usr/bin/env bash
# `cmake --install` of the release build: what it installs, stripped, and
# nothing that belongs to one package format alone.
. "$(dirname "$0")/lib.sh"
scratch
logged "cmake --workflow --preset release" cmake --workflow --preset release || finish
logged "cmake --install build/release --prefix $work --strip" \
    cmake --install build/release --prefix "$work" --strip || finish
for f in bin/argreport share/man/man1/argreport.1.gz share/man/zh_CN/man1/argreport.1.gz \
         share/doc/argreport/README.md share/doc/argreport/README.zh-CN.md \
         share/doc/argreport/copyright share/doc/argreport/changelog.gz; do
    check "$f is installed" test -f "$work/$f"
done
check "Debian's lintian override is left to the .deb" test ! -e "$work/share/lintian"
stripped "$work/bin/argreport"
road "$work/bin/argreport"
finish
