# The source release: the committed tree as OUTPUT_DIR/argreport-NAME.tar.gz,
# with a SHA256SUMS beside it, NAME being the release's version on its tag
# and a snapshot's name elsewhere (see cmake/version.cmake). git archive writes
# the members in a fixed order, owned by root, with the commit's time; gzip
# -n adds no name or time of its own. The tarball also carries
# packaging/source-release.cmake, the commit's name, time and id, so that a
# build from it, outside git, gives the same bytes.
include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/version.cmake")
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
# changelog of packaging/packages/changelog, headed, for a snapshot, by an
# entry of its own. The tarball is the same for every revision: its spec is
# the release's first packages'. The source RPM of a rebuild (RELEASE, later
# than the changelog's top entry) has a spec of its own, headed by the
# rebuild's entry, dated by SOURCE_DATE_EPOCH as the packages' is.
set(rebuild_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT rebuild_epoch)
    set(rebuild_epoch "${ARGREPORT_EPOCH}")
endif()
set(VERSION "${ARGREPORT_VERSION}")
file(READ "${SOURCE_DIR}/packaging/packages/argreport.spec.in" spec_in)
set(project_changelog "${SOURCE_DIR}/packaging/packages/changelog")
argreport_changelog_top("${project_changelog}" top_version top_release)
if(top_version STREQUAL ARGREPORT_VERSION)
    set(tarball_release "${top_release}")
else()
    set(tarball_release 0upstream1)
endif()
function(argreport_spec release epoch out)
    argreport_changelog(changelog "${project_changelog}" "${ARGREPORT_VERSION}" "${release}" "${epoch}")
    # What this spec builds, which is not what the upstream packages are:
    # their items go, and the top entry says what it is.
    string(REGEX REPLACE "  \\* Upstream packages:[^\n]*\n(    [^\n]*\n)*" "" changelog "${changelog}")
    string(FIND "${changelog}" "\n\n" head)
    math(EXPR head "${head} + 2")
    string(SUBSTRING "${changelog}" 0 ${head} entry)
    string(SUBSTRING "${changelog}" ${head} -1 rest)
    set(changelog "${entry}  * Built from the source release by its spec, as a distribution builds
    it: with the distribution's C library, flags and package note, linked
    dynamically, and tested as it is built.\n${rest}")
    file(WRITE "${OUTPUT_DIR}/spec-changelog" "${changelog}")
    execute_process(COMMAND awk -f "${SOURCE_DIR}/packaging/packages/rpm-changelog.awk" "${OUTPUT_DIR}/spec-changelog"
        OUTPUT_VARIABLE changelog COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE "${OUTPUT_DIR}/spec-changelog")
    set(RELEASE "${release}")
    string(CONFIGURE "${spec_in}" spec @ONLY)
    set(${out} "${spec}${changelog}" PARENT_SCOPE)
endfunction()
file(MAKE_DIRECTORY "${OUTPUT_DIR}")
argreport_spec("${tarball_release}" "${ARGREPORT_EPOCH}" spec)
argreport_spec("${RELEASE}" "${rebuild_epoch}" srpm_spec)
# The builder's git configuration must not reach the bytes: tar.umask sets
# the members' modes, core.autocrlf and a global attributes file could
# change their contents. Nor must the clone's tags: git archive would fill
# git-archive.cmake in with git describe's answer, which depends on them,
# and a build from the tarball reads the record instead. It goes in as
# committed.
set(archived packaging/release/git-archive.cmake)
execute_process(COMMAND git cat-file blob "HEAD:${archived}"
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE archived_text COMMAND_ERROR_IS_FATAL ANY)
execute_process(
    COMMAND git -c tar.umask=0022 -c core.autocrlf=false -c core.eol=lf
        -c core.attributesFile=/dev/null archive --format=tar "--prefix=${NAME}/"
        "--add-virtual-file=${NAME}/${archived}:${archived_text}"
        "--add-virtual-file=${NAME}/packaging/source-release.cmake:${record}"
        "--add-virtual-file=${NAME}/packaging/argreport.spec:${spec}" HEAD -- . ":(exclude)${archived}"
    COMMAND gzip -9n
    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_FILE "${OUTPUT_DIR}/${NAME}.tar.gz"
    COMMAND_ERROR_IS_FATAL ANY)
# The source RPM of this revision's spec, which the upstream RPMs name as
# theirs: made with the commit's time (or a rebuild's), no build host and no
# distribution tag. rpmbuild records the spec's %prep as expanded, with the
# paths of the source and build directories: it runs in a directory of the
# build tree and is given them relative to it, so that where the tree lies
# changes no byte.
find_program(RPMBUILD rpmbuild)
set(srpm "")
file(GLOB stale "${OUTPUT_DIR}/*.src.rpm")
if(stale)
    file(REMOVE ${stale})
endif()
if(RPMBUILD)
    set(scratch "${OUTPUT_DIR}/srpm")
    file(REMOVE_RECURSE "${scratch}")
    file(MAKE_DIRECTORY "${scratch}")
    file(COPY "${OUTPUT_DIR}/${NAME}.tar.gz" DESTINATION "${scratch}")
    file(WRITE "${scratch}/argreport.spec" "${srpm_spec}")
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env "SOURCE_DATE_EPOCH=${rebuild_epoch}"
            "${RPMBUILD}" -bs --quiet --define "_topdir ." --define "_sourcedir ." --define "_specdir ."
            --define "_builddir BUILD" --define "_srcrpmdir ." --define "dist %{nil}"
            --load "${SOURCE_DIR}/packaging/packages/reproducible.macros" argreport.spec
        WORKING_DIRECTORY "${scratch}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB made "${scratch}/*.src.rpm")
    file(COPY ${made} DESTINATION "${OUTPUT_DIR}")
    file(REMOVE_RECURSE "${scratch}")
    file(GLOB srpm RELATIVE "${OUTPUT_DIR}" "${OUTPUT_DIR}/*.src.rpm")
else()
    message(WARNING "rpmbuild was not found: no source RPM, which the upstream RPMs name")
endif()
execute_process(COMMAND sha256sum "${NAME}.tar.gz" ${srpm}
    WORKING_DIRECTORY "${OUTPUT_DIR}" OUTPUT_FILE "${OUTPUT_DIR}/SHA256SUMS"
    COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "${OUTPUT_DIR}/${NAME}.tar.gz ${srpm}")
