# Readies the Chinese man page for both formatters. A line end in running
# text is a space to groff and to mandoc, and Chinese puts no space between
# words; mandoc, moreover, breaks lines only at spaces. So, outside examples
# and comments:
# - after closing punctuation inside a line it puts \*(Zb, which the page
#   defines as a break point for groff and as nothing for mandoc;
# - after closing punctuation at the end of a line of running text it puts
#   \*(Zj: groff joins the lines, mandoc keeps the line end's space;
# - a line that ends inside a Chinese phrase is joined to the next with \c.
# groff's own rules (zh.tmac, loaded by the page) then break between any two
# Chinese characters but never before closing punctuation, and mandoc breaks
# only at spaces: at the line ends the page chose, and beside Latin words. A
# line end that mandoc does not break at shows as a space after punctuation,
# so the page's lines of running text are as long as the narrowest page
# takes. A text line that begins with closing punctuation would give both a
# space before it, and stops the build.
# The patterns are bytes: mawk knows no UTF-8.
BEGIN {
    closing = "(，|。|、|；|：|？|！|）|」|』)"
    cjk = "(\343|\344|\345|\346|\347|\350|\351|\357)[\200-\277][\200-\277]"
}
function running(s) { return s !~ /^\./ || s ~ /^\.(B|I|BR|BI|IB|IR|RB|RI)( |$)/ }
function text(s) { return s !~ /^\./ }
{ line[NR] = $0 }
END {
    for (i = 1; i <= NR; i++) {
        s = line[i]
        if (s ~ /^\.EX/) example = 1
        if (s ~ /^\.EE/) example = 0
        if (example || !running(s)) { print s; continue }
        if (text(s) && s ~ ("^" closing) && i > 1 && running(line[i - 1]) && line[i - 1] !~ /^\.EE/) {
            printf "%s:%d: a line of running text begins with closing punctuation\n", FILENAME, i > "/dev/stderr"
            failed = 1
        }
        # Inside the line: a break point after each run of closing punctuation
        # that more text follows.
        rest = s
        out = ""
        while (match(rest, closing "+")) {
            out = out substr(rest, 1, RSTART + RLENGTH - 1)
            rest = substr(rest, RSTART + RLENGTH)
            # Not after a closing bracket: the phrase goes on, without a space.
            if (rest != "" && rest !~ /^ / && substr(out, length(out) - 2) !~ /^(）|」|』)$/) {
                if (!text(s)) {
                    printf "%s:%d: text follows closing punctuation in a macro's arguments\n", FILENAME, i > "/dev/stderr"
                    failed = 1
                }
                out = out "\\*(Zb"
            }
        }
        s = out rest
        next_line = line[i + 1]
        tag = line[i - 1] ~ /^\.TP/
        if (i < NR && !tag && running(next_line) && next_line != "") {
            if (line[i] ~ (closing "$"))
                s = s "\\*(Zj"
            else if (line[i] ~ (cjk "$") && text(next_line) && next_line ~ ("^" cjk))
                s = s "\\c"
        }
        print s
    }
    exit failed
}
