# Readies a Chinese man page for groff, which breaks lines only at spaces
# and turns every line end in running text into a space. Outside example
# blocks and comments, it puts a break point (\:) after each full-width
# punctuation mark, and joins (\c) a line to the next where a space would
# stand between Chinese characters, or after full-width punctuation (but
# never the tag of a .TP to its text).
function cjk_end(s) { return s ~ /(\343|\344|\345|\346|\347|\350|\351|\357)[\200-\277][\200-\277]$/ }
function cjk_start(s) { return s ~ /^(\343|\344|\345|\346|\347|\350|\351|\357)/ }
function punct_end(s) { return s ~ /(，|。|、|；|：|？|！|）)$/ }
function text(s) { return s !~ /^\./ }
function font(s) { return s ~ /^\.(B|I|BR|BI|IB|IR|RB|RI) / }
{ line[NR] = $0 }
END {
    for (i = 1; i <= NR; i++) {
        s = line[i]
        if (s ~ /^\.EX/) example = 1
        if (s ~ /^\.EE/) example = 0
        if (example || s ~ /^\.\\"/ || s ~ /^\.(TH|SH|SS) /) { print s; continue }
        gsub(/，|。|、|；|：|？|！|）/, "&\\:", s)
        next_line = line[i + 1]
        arg = next_line
        if (font(next_line)) sub(/^\.[A-Z]+ /, "", arg)
        if (line[i - 1] !~ /^\.TP/ && (text(next_line) || font(next_line)) && next_line != "" &&
            (punct_end(line[i]) || (cjk_end(line[i]) && cjk_start(arg))))
            s = s "\\c"
        print s
    }
}
