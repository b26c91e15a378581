# Writes the RPM %changelog from the project's changelog, which is in
# Debian's format: each entry's items, then who made it and when. Its
# versions carry the packages' revision, which is the RPM's release.
/^[^ ]/ { version = $2; gsub(/[()]/, "", version); items = ""; next }
/^  \* / { sub(/^  \* /, "- "); items = items $0 "\n"; next }
/^    / { sub(/^    /, "  "); items = items $0 "\n"; next }
/^ -- / {
    # " -- Name <mail>  Tue, 08 Dec 2026 12:00:00 +0000"
    split($0, part, /  /)
    who = substr(part[1], 5)
    split(part[2], d, /[ ,]+/)
    if (entries++) printf "\n"
    printf "* %s %s %s %s %s - %s\n%s", d[1], d[3], d[2], d[4], who, version, items
}
