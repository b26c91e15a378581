# The source release: the committed tree as OUTPUT_DIR/argreport-NAME.tar.gz,
# with a SHA256SUMS beside it, NAME being the release's version on its tag
# and a snapshot's name elsewhere (see version.cmake). git archive writes
# the members in a fixed order, owned by root, with the commit's time; gzip
# -n adds no name or time of its own. The tarball also carries
# packaging/source-release.cmake, the commit's name, time and id, so that a
# build from it, outside git, gives the same bytes.
include("${CMAKE_CURRENT_LIST_DIR}/version.cmake")
if(NOT ARGREPORT_REVISION)
    message(FATAL_ERROR "a source release is made from a git checkout")
endif()
set(NAME "argreport-${ARGREPORT_VERSION}")
execute_process(COMMAND git status --porcelain --untracked-files=no
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE changed)
if(changed)
    message(WARNING "uncommitted changes are not in the source release")
endif()
set(record "# The commit this source release was made from, for builds outside git.
set(ARGREPORT_VERSION ${ARGREPORT_VERSION})
set(ARGREPORT_TAGGED ${ARGREPORT_TAGGED})
set(ARGREPORT_EPOCH ${ARGREPORT_EPOCH})
set(ARGREPORT_REVISION ${ARGREPORT_REVISION})
")
file(MAKE_DIRECTORY "${OUTPUT_DIR}")
# The builder's git configuration must not reach the bytes: tar.umask sets
# the members' modes, core.autocrlf and a global attributes file could
# change their contents.
execute_process(
    COMMAND git -c tar.umask=0022 -c core.autocrlf=false -c core.eol=lf
        -c core.attributesFile=/dev/null archive --format=tar "--prefix=${NAME}/"
        "--add-virtual-file=${NAME}/packaging/source-release.cmake:${record}" HEAD
    COMMAND gzip -9n
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_FILE "${OUTPUT_DIR}/${NAME}.tar.gz"
    COMMAND_ERROR_IS_FATAL ANY)
# Only this release's tarball is summed: a tarball of an earlier commit
# may lie beside it.
execute_process(COMMAND sha256sum "${NAME}.tar.gz"
    WORKING_DIRECTORY "${OUTPUT_DIR}" OUTPUT_FILE "${OUTPUT_DIR}/SHA256SUMS"
    COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "${OUTPUT_DIR}/${NAME}.tar.gz")
