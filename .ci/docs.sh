#!/usr/bin/env bash
# The English and Chinese manuals, READMEs and launchers' guides are in
# step, and the man pages as built pass man's and mandoc's lint, in the C,
# C.UTF-8 and zh_CN.UTF-8 locales. A translation of the README, the man
# page or the launchers' guide gives, paragraph by paragraph, list item by
# list item and row by row, the numbers and the code of its original, and
# the same examples (docs/documents.py parity).
. "$(dirname "$0")/lib.sh"

# Each section of the English page, by its Chinese name.
sections=("NAME:名称" "SYNOPSIS:概述" "DESCRIPTION:描述" "EXIT STATUS:退出状态" "READING THE REPORT:安全地查看报告"
          "EXAMPLES:示例" "NOTES:备注" "CAVEATS:注意事项" "SEE ALSO:参见")
in_chinese() {
    local name pair found
    while IFS= read -r name; do
        found="(no Chinese name for $name)"
        for pair in "${sections[@]}"; do [ "${pair%%:*}" = "$name" ] && found=${pair#*:}; done
        echo "$found"
    done
}
in_step() { # what, then two commands' outputs that must be the same
    if diff "$2" "$3"; then ok "$1"; else fail "$1 (<: English, >: Chinese)"; fi
}
in_step "the man pages have the same sections" \
    <(sed -n 's/^\.SH //p' argreport.1.in | tr -d '"' | in_chinese) <(sed -n 's/^\.SH //p' argreport.zh_CN.1.in | tr -d '"')
for pair in "README.md README.zh-CN.md" "argreport.1.in argreport.zh_CN.1.in" "docs/launchers.md docs/launchers.zh-CN.md"; do
    read -r original translation <<<"$pair"
    if python3 docs/documents.py parity "$original" "$translation"; then
        ok "$translation gives the numbers, the code and the examples of $original, block by block"
    else
        fail "$translation and $original differ in numbers, code or examples (above)"
    fi
done
# The guides' index and tables link to their sections by the anchors that a
# Markdown renderer makes of headings.
for guide in docs/launchers.md docs/launchers.zh-CN.md; do
    logged "$guide: every link to a section finds it" python3 docs/documents.py dangling "$guide"
done
# Between the index and table at the top and the note on CI at the end, each
# section of the guides has the same four parts, in this order.
logged "each section of docs/launchers.md has its four parts in order" \
    python3 docs/documents.py sections docs/launchers.md 'Symptom.' 'What happens.' 'Fix.' 'Check.'
logged "each section of docs/launchers.zh-CN.md has its four parts in order" \
    python3 docs/documents.py sections docs/launchers.zh-CN.md '现象。' '原因。' '解决办法。' '验证。'

# Configuring the release tree writes both pages, with version and date.
logged "cmake --preset release" cmake --preset release || finish
for man in build/release/argreport.1 build/release/argreport.zh_CN.1; do
    locales=(C.UTF-8 zh_CN.UTF-8)
    [ "$man" = build/release/argreport.1 ] && locales+=(C) # the Chinese page is for UTF-8 terminals
    for locale in "${locales[@]}"; do
        lint=$(LC_ALL=$locale MANWIDTH=80 man --warnings -l "$man" 2>&1 >/dev/null)
        if [ -z "$lint" ]; then ok "LC_ALL=$locale man --warnings -l $man"; else echo "$lint"; fail "LC_ALL=$locale man --warnings -l $man"; fi
    done
    lint=$(mandoc -T lint -W warning "$man" 2>&1)
    if [ -z "$lint" ]; then ok "mandoc -T lint $man"; else echo "$lint"; fail "mandoc -T lint $man"; fi
done
# What the READMEs and the Chinese page say of it under LC_ALL=C: man drops
# the Chinese characters, so that its NAME line reads "argreport -", and
# troff warns once for each distinct character it cannot show, full-width
# punctuation among them.
page=$(LC_ALL=C MANWIDTH=80 man -l build/release/argreport.zh_CN.1 2>build/zh_CN.warnings)
warned=$(grep -o "special character 'u[0-9A-F]*'" build/zh_CN.warnings)
check "under LC_ALL=C the Chinese page's NAME line reads \"argreport -\"" \
    test "$(grep -m1 '^ ' <<<"$page")" = "       argreport -"
check "under LC_ALL=C troff warns once for each of the $(wc -l <<<"$warned") characters it cannot show, ，(uFF0C) among them" \
    bash -c '[ -n "$1" ] && [ "$(sort <<<"$1" | uniq -d)" = "" ] && grep -q uFF0C <<<"$1"' _ "$warned"
rm -f build/zh_CN.warnings
finish
