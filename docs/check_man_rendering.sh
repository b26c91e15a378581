#!/usr/bin/env bash
# Both man pages as their readers see them: through man-db and groff, as
# man -l runs them, and through mandoc, the formatter of Alpine, Void and
# the BSDs, where the static binary is at home. At widths 60, 80 and 100:
# - no line begins with closing punctuation (。，、；：！？）」』);
# - no command name, path or option is hyphenated (in the Chinese page, no
#   word at all: its only Latin words are names);
# - no prose line is wider than the terminal, and no example line is wider
#   than the same example in the English page;
# - groff fills the Chinese prose lines about as fully as the English ones;
# - nothing a reader may copy holds a no-break space (U+00A0), which mandoc
#   writes for \~ and which a shell does not take for a blank: no bold text
#   (commands, names, values), no example line;
# - mandoc, which breaks lines only at spaces, cuts no number of the Chinese
#   page from the words around it (a continued line begins with no number,
#   and a line that ends in one is not continued by Chinese text), leaves no
#   word alone on a line within a paragraph, and, at width 60, for which the
#   page's lines are written, shows no space after full-width punctuation.
# Needs groff, man-db, mandoc, perl and the zh_CN.UTF-8 locale (.ci/setup.sh
# makes it).
. "$(dirname "$0")/../.ci/lib.sh"

# Configuring the release tree writes both pages, with version and date.
cmake --preset release >/dev/null || { fail "cmake --preset release"; finish; }
en=build/release/argreport.1
zh=build/release/argreport.zh_CN.1
# A Chinese prose line of groff's may fall short of the English page's by one
# column (the characters are two wide) and by a character kept with its
# punctuation.
underfill_tolerance=3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The lines of the pages' examples, and the words set in bold: the names
# of commands, paths and options, which the reader types.
python3 docs/documents.py examples "$en" "$zh" | sort -u >"$work/examples"
python3 docs/documents.py bold "$en" "$zh" | sort -u >"$work/names"
if [ ! -s "$work/examples" ] || [ ! -s "$work/names" ]; then fail "no examples or names found in the pages"; fi

# Reads a rendered page on standard input and prints its measures: "prose N
# AVG" (the number of prose lines, and the mean width of those that a
# paragraph's next line follows: how fully the formatter fills them),
# "example COLS TEXT" for each example line, and one "bad: ..." line for each
# fault.
measure() { # width, examples file, names file, strict (1: the Chinese page), formatter
    perl -CS -Mutf8 -e '
        my ($width, $examples, $names, $strict, $formatter) = @ARGV;
        my $chinese_mandoc = $strict && $formatter eq "mandoc";
        sub slurp { open my $f, "<:utf8", $_[0] or die; my @l = <$f>; chomp @l; return @l }
        my %example = map { $_ => 1 } slurp($examples);
        my %name = map { s{^[^\w/.-]+|[^\w/.-]+$}{}gr => 1 } slurp($names);
        sub cols { my $s = shift; my $w = 0; $w += /\p{EA=W}|\p{EA=F}/ ? 2 : 1 for split //, $s; $w }
        my @raw = <STDIN>;
        # Bold is overstruck: the same character twice, a backspace between.
        print "bad: a no-break space in bold text: " . s/.\x08//gr for grep { /\x{a0}\x08\x{a0}/ } @raw;
        my @lines = map { s/.\x08//gr } @raw;
        chomp @lines;
        # The header and the footer are the first and last lines that hold text.
        my @text = grep { $lines[$_] =~ /\S/ } 0 .. $#lines;
        my %frame = ($text[0] => 1, $text[-1] => 1);
        my ($prose, $filled, $sum) = (0, 0, 0);
        for my $i (0 .. $#lines) {
            my $line = $lines[$i];
            next if $frame{$i} || $line !~ /\S/;
            (my $body = $line) =~ s/^\s+|\s+$//g;
            my $cols = cols($line =~ s/\s+$//r);
            print "bad: begins with closing punctuation: $line\n" if $body =~ /^[。，、；：！？）」』]/;
            print "bad: a no-break space in an example: $line\n" if $example{$body =~ tr/\x{a0}/ /r} && $body =~ /\x{a0}/;
            if ($example{$body}) {
                print "example $cols $body\n";
                next;
            }
            next if $line =~ /^\S/; # a section heading
            $prose++;
            # The last line of a paragraph, or a tag, is as long as its text.
            my $next = $i < $#lines ? $lines[$i + 1] : "";
            (my $next_body = $next) =~ s/^\s+|\s+$//g;
            if ($next =~ /\S/ && !$example{$next_body} && ($next =~ /^(\s*)/)[0] eq ($line =~ /^(\s*)/)[0]) {
                $filled++;
                $sum += $cols;
            }
            print "bad: $cols columns wide: $line\n" if $cols > $width;
            if ($chinese_mandoc) {
                my $indent = ($line =~ /^(\s*)/)[0];
                my $continues = $next =~ /\S/ && !$example{$next_body} && ($next =~ /^(\s*)/)[0] eq $indent;
                my $previous = $i > 0 ? $lines[$i - 1] : "";
                my $continued = $previous =~ /\S/ && ($previous =~ /^(\s*)/)[0] eq $indent && !$frame{$i - 1};
                print "bad: a number cut from the text before it: $line\n"
                    if $continued && $body =~ /^-?\d[\d,.]*(?!\w)/ && $previous !~ /[，。、；：！？）」』]\s*$/;
                print "bad: a number cut from the text after it: $line\n"
                    if $continues && $body =~ /(^|\s)-?\d[\d,.]*$/ && $next_body =~ /^[^\x00-\x7f]/;
                print "bad: a word alone on a line: $line\n" if $continues && $body !~ /\s/ && $body =~ /^[\x00-\x7f]+$/;
                print "bad: a space after full-width punctuation: $line\n" if $width == 60 && $body =~ /[，。、；：！？）」』] +\S/;
            }
            # A word broken across two lines with a hyphen: groff marks its
            # own hyphenation with U+2010; either may break after a "-".
            if ($line =~ /([\x21-\x7e]*[A-Za-z])([\x{2010}-])$/ && $i < $#lines) {
                my ($head, $hyphen) = ($1, $2);
                my ($tail) = $lines[$i + 1] =~ /^\s*(\S+)/;
                next unless defined $tail && $tail =~ /^[[:alpha:]]/;
                $head =~ s/^[^\w\/.-]+//;
                $tail =~ s/[^\w\/.-]+$//;
                my @whole = ("$head$tail", "$head-$tail");
                my $named = grep { $name{$_} } @whole;
                print "bad: hyphenated $head$hyphen$tail\n"
                    if $named || $head =~ m{/} || ($strict && $hyphen eq "\x{2010}");
            }
        }
        printf "prose %d %.1f\n", $prose, $filled ? $sum / $filled : 0;
    ' "$@"
}

for width in 60 80 100; do
    for formatter in groff mandoc; do
        for page in en zh; do
            file=${!page}
            if [ "$formatter" = groff ]; then
                locale=C.UTF-8
                [ "$page" = zh ] && locale=zh_CN.UTF-8
                LC_ALL=$locale MANWIDTH=$width man -l "$file" 2>/dev/null >"$work/out"
            else
                mandoc -T utf8 -O "width=$width" "$file" >"$work/out"
            fi
            strict=0
            [ "$page" = zh ] && strict=1
            measure "$width" "$work/examples" "$work/names" "$strict" "$formatter" <"$work/out" >"$work/$page.$formatter.$width"
        done
        where="$formatter, width $width"
        read -r _ en_lines en_avg < <(grep '^prose ' "$work/en.$formatter.$width")
        read -r _ zh_lines zh_avg < <(grep '^prose ' "$work/zh.$formatter.$width")
        if [ "$en_lines" -gt 0 ] && [ "$zh_lines" -gt 0 ] && grep -q '^example ' "$work/en.$formatter.$width" && grep -q '^example ' "$work/zh.$formatter.$width"; then
            ok "$where: both pages render ($en_lines and $zh_lines prose lines)"
        else
            fail "$where: a page rendered without prose or examples"
        fi
        for page in en zh; do
            bad=$(grep '^bad: ' "$work/$page.$formatter.$width")
            if [ -z "$bad" ]; then
                ok "$where, $page page: laid out as it must be (the list at the top of this script)"
            else
                echo "$bad"
                fail "$where, $page page: $(wc -l <<<"$bad") faulty line(s)"
            fi
        done
        # Each example line of the Chinese page against the same line of the
        # English page, or against the English page's widest.
        wider=$(perl -e '
            my %en; my $widest = 0;
            open my $en, "<", $ARGV[0] or die;
            while (<$en>) { next unless /^example (\d+) (.*)/; $en{$2} = $1 if $1 > ($en{$2} // 0); $widest = $1 if $1 > $widest }
            open my $zh, "<", $ARGV[1] or die;
            while (<$zh>) { next unless /^example (\d+) (.*)/; my $limit = $en{$2} // $widest; print "$1 > $limit columns: $2\n" if $1 > $limit }
        ' "$work/en.$formatter.$width" "$work/zh.$formatter.$width")
        if [ -z "$wider" ]; then
            ok "$where: no example line of the Chinese page is wider than in the English page"
        else
            echo "$wider"
            fail "$where: the Chinese page's examples are wider than the English page's"
        fi
        if [ "$formatter" = groff ]; then
            if perl -e 'exit !($ARGV[0] >= $ARGV[1] - $ARGV[2])' "$zh_avg" "$en_avg" "$underfill_tolerance"; then
                ok "$where: Chinese prose lines average $zh_avg columns, English ones $en_avg"
            else
                fail "$where: Chinese prose lines average $zh_avg columns, English ones $en_avg (more than $underfill_tolerance short)"
            fi
        else
            echo "     ($where: prose lines average $zh_avg columns in Chinese, $en_avg in English)"
        fi
    done
done
finish
