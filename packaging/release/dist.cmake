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
# The spec, found there by rpmbuild -ta, carries the version and the
# changelog of packaging/packages/changelog, headed, for a snapshot or a rebuild, by
# an entry of its own, as the upstream packages' changelog is.
set(VERSION "${ARGREPORT_VERSION}")
file(READ "${SOURCE_DIR}/packaging/packages/argreport.spec.in" spec)
string(CONFIGURE "${spec}" spec @ONLY)
file(READ "${SOURCE_DIR}/packaging/packages/changelog" changelog)
string(REGEX MATCH "^argreport \\(([^)-]+)-([0-9]+)\\)" top "${changelog}")
if(NOT (CMAKE_MATCH_1 STREQUAL ARGREPORT_VERSION AND CMAKE_MATCH_2 EQUAL RELEASE))
    if(ARGREPORT_VERSION STREQUAL CMAKE_MATCH_1)
        set(why "Rebuilt from the source of ${CMAKE_MATCH_1}-${CMAKE_MATCH_2}")
    else()
        set(why "Snapshot of commit ${ARGREPORT_REVISION}, not a release")
    endif()
    string(REGEX MATCH "\n -- ([^\n]*>)  " maintainer "${changelog}")
    set(ENV{SOURCE_DATE_EPOCH} "${ARGREPORT_EPOCH}")
    string(TIMESTAMP when "%a, %d %b %Y %H:%M:%S +0000" UTC)
    set(changelog "argreport (${ARGREPORT_VERSION}-${RELEASE}) UNRELEASED; urgency=medium

  * ${why}.

 -- ${CMAKE_MATCH_1}  ${when}

${changelog}")
endif()
file(WRITE "${OUTPUT_DIR}/spec-changelog" "${changelog}")
execute_process(COMMAND awk -f "${SOURCE_DIR}/packaging/packages/rpm-changelog.awk" "${OUTPUT_DIR}/spec-changelog"
    OUTPUT_VARIABLE changelog COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${OUTPUT_DIR}/spec-changelog")
string(APPEND spec "${changelog}")
file(MAKE_DIRECTORY "${OUTPUT_DIR}")
# The builder's git configuration must not reach the bytes: tar.umask sets
# the members' modes, core.autocrlf and a global attributes file could
# change their contents.
execute_process(
    COMMAND git -c tar.umask=0022 -c core.autocrlf=false -c core.eol=lf
        -c core.attributesFile=/dev/null archive --format=tar "--prefix=${NAME}/"
        "--add-virtual-file=${NAME}/packaging/source-release.cmake:${record}"
        "--add-virtual-file=${NAME}/packaging/argreport.spec:${spec}" HEAD
    COMMAND gzip -9n
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_FILE "${OUTPUT_DIR}/${NAME}.tar.gz"
    COMMAND_ERROR_IS_FATAL ANY)
# The source RPM of that spec, which the upstream RPMs name as theirs: made
# with the commit's time, no build host and no distribution tag. rpmbuild
# records the spec as expanded, with the paths of the build and source
# directories: they are fixed, and so is the directory, used by one build
# at a time.
find_program(RPMBUILD rpmbuild)
find_program(FLOCK flock)
set(srpm "")
if(RPMBUILD AND FLOCK)
    set(fixed /tmp/argreport-srpm)
    execute_process(
        COMMAND "${FLOCK}" "${fixed}.lock" sh -c [[
            set -e
            rm -rf "$1" && mkdir "$1" && cp "$2" "$1/"
            SOURCE_DATE_EPOCH=$3 "$4" -ts --quiet --define "_topdir $1/rpmbuild" --define "_builddir $1/BUILD" \
                --define "_srcrpmdir $1" --define "dist %{nil}" --define "_buildhost reproducible" \
                --define "use_source_date_epoch_as_buildtime 1" --define "clamp_mtime_to_source_date_epoch 1" \
                --define "source_date_epoch_from_changelog 0" "$1/${2##*/}"
            mv "$1"/*.src.rpm "$5/"
            rm -rf "$1"]]
            sh "${fixed}" "${OUTPUT_DIR}/${NAME}.tar.gz" "${ARGREPORT_EPOCH}" "${RPMBUILD}" "${OUTPUT_DIR}"
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB srpm RELATIVE "${OUTPUT_DIR}" "${OUTPUT_DIR}/*.src.rpm")
else()
    message(WARNING "rpmbuild or flock was not found: no source RPM, which the upstream RPMs name")
endif()
execute_process(COMMAND sha256sum "${NAME}.tar.gz" ${srpm}
    WORKING_DIRECTORY "${OUTPUT_DIR}" OUTPUT_FILE "${OUTPUT_DIR}/SHA256SUMS"
    COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "${OUTPUT_DIR}/${NAME}.tar.gz ${srpm}")
