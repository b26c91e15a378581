#!/usr/bin/env bash
# The Chinese READMEs, guide and man page keep the conventions they are
# written in:
# - a Markdown paragraph or list item is one source line,
#   as a browser turns a line end inside Chinese text into a visible space;
# - entries are numbered 第 N 项, with Arabic numerals as the program's own
#   第N个 has them, and spaces around the numeral as between any Chinese
#   and Latin text.
. "$(dirname "$0")/../.ci/lib.sh"

markdown=(README.zh-CN.md docs/launchers.zh-CN.md)
page=argreport.zh_CN.1.in

# A line of text whose previous line is text too (not code, a heading, a
# table row or a comment) continues a paragraph.
for readme in "${markdown[@]}"; do
    split=$(perl -ne '
        my $text = /\S/ && !/^(    |#|\||<!--)/;
        print "$.: $_" if $text && $previous && !/^[-*] |^\d+\. /;
        $previous = $text && !/^#/;' "$readme")
    if [ -z "$split" ]; then
        ok "$readme: every paragraph and list item is on one line"
    else
        echo "$split"
        fail "$readme: paragraphs go on over a line end, which a browser shows as a space"
    fi
done

# The prose of both documents, without code and examples.
prose() {
    perl -ne '$ex = 1 if /^\.EX/; $ex = 0 if /^\.EE/; print "$ARGV:$.: $_" unless $ex || /^    /;
              close ARGV if eof' "${markdown[@]}" "$page"
}
ordinals=$(prose | grep -E '第[一二三四五六七八九十两]+项|第[0-9]+项|第 [一二三四五六七八九十两]+ 项' || true)
if [ -z "$ordinals" ]; then
    ok "${markdown[*]} and $page number entries as 第 N 项"
else
    echo "$ordinals"
    fail "entries numbered otherwise than 第 N 项"
fi
finish
