# Written by git archive (export-subst, in .gitattributes): the commit a tree
# it exports was made from, its time, and git describe's answer over the
# annotated release tags. cmake/version.cmake reads it only where there is neither
# git nor a source release's record; in a checkout the placeholders stay.
set(ARGREPORT_ARCHIVED_COMMIT "$Format:%H$")
set(ARGREPORT_ARCHIVED_EPOCH "$Format:%ct$")
set(ARGREPORT_ARCHIVED_DESCRIBE "$Format:%(describe:match=v[0-9]*,abbrev=40)$")
