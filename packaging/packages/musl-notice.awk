# Turns the machine-readable copyright file of the musl that was linked into
# stanzas of ours: its paths go under musl/, and its header and the stanzas
# of its Debian packaging, none of which is linked in, are left out. The
# first stanza says which musl it was.
BEGIN { RS = ""; FS = "\n" }
/^Format:/ || /^Files: debian\// { next }
{
    in_files = 0
    for (i = 1; i <= NF; i++) {
        line = $i
        if (line ~ /^Files:/) {
            in_files = 1
            sub(/^Files:[ \t]*/, "", line)
            line = "Files: " under_musl(line)
        } else if (in_files && line ~ /^[ \t]/) {
            match(line, /^[ \t]+/)
            line = substr(line, 1, RLENGTH) under_musl(substr(line, RLENGTH + 1))
        } else {
            in_files = 0
        }
        print line
    }
    if (!said && $1 ~ /^Files:/) {
        print "Comment: musl " version ", linked statically into usr/bin/argreport."
        print " The paths are those of musl's source tree."
        said = 1
    }
    print ""
}
function under_musl(paths,    n, k, p, out) {
    n = split(paths, p, /[ \t]+/)
    out = ""
    for (k = 1; k <= n; k++)
        if (p[k] != "")
            out = out (out == "" ? "" : " ") "musl/" p[k]
    return out
}
