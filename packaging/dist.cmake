# The source release: the committed tree as OUTPUT_DIR/NAME.tar.gz, with a
# SHA256SUMS beside it. git archive writes the members in a fixed order,
# owned by root, with the commit's time; gzip -n adds no name or time of its
# own. The tarball also carries packaging/source-release.cmake, the commit's
# time and id, so that a build from it, outside git, gives the same bytes.
execute_process(COMMAND git log -1 --format=%ct%n%H
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE commit RESULT_VARIABLE failed
    OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed)
    message(FATAL_ERROR "a source release is made from a git checkout")
endif()
string(REPLACE "\n" ";" commit "${commit}")
list(GET commit 0 epoch)
list(GET commit 1 revision)
execute_process(COMMAND git status --porcelain --untracked-files=no
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE changed)
if(changed)
    message(WARNING "uncommitted changes are not in the source release")
endif()
set(record "# The commit this source release was made from, for builds outside git.
set(ARGREPORT_EPOCH ${epoch})
set(ARGREPORT_REVISION ${revision})
")
file(MAKE_DIRECTORY "${OUTPUT_DIR}")
execute_process(
    COMMAND git archive --format=tar "--prefix=${NAME}/"
        "--add-virtual-file=${NAME}/packaging/source-release.cmake:${record}" HEAD
    COMMAND gzip -9n
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_FILE "${OUTPUT_DIR}/${NAME}.tar.gz"
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND sha256sum "${NAME}.tar.gz"
    WORKING_DIRECTORY "${OUTPUT_DIR}" OUTPUT_FILE "${OUTPUT_DIR}/SHA256SUMS"
    COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "${OUTPUT_DIR}/${NAME}.tar.gz")
