# The name of what is being built, used in every artefact's name, every
# package's version, the package note and the image's tag:
#   - VERSION, on a commit tagged vVERSION (an annotated tag) whose
#     project(VERSION) and changelog's top entry both say VERSION;
#   - otherwise a snapshot of project(VERSION), VERSION~gitYYYYMMDD.COMMIT
#     before that version's release, VERSION+gitYYYYMMDD.COMMIT after it
#     (its tag vVERSION is behind the commit): Debian and RPM sort '~'
#     before the version and '+' after it, so that whoever installed a
#     snapshot upgrades to the release that follows it. The date is the
#     commit's, in UTC, and COMMIT the first 7 digits of its id. Only the
#     tag tells after from before: a clone without tags calls a commit
#     after a release a snapshot before it, which sorts lower, never higher.
# A build from a source tarball takes the name recorded in it, and nothing
# else does; a tree made by git archive is named from what git wrote into
# git-archive.cmake; any other tree, without git, stops the configuration
# unless given its name with -DARGREPORT_NAME=VERSION.
#
# Included by CMakeLists.txt (PROJECT_SOURCE_DIR and PROJECT_VERSION set),
# by dist.cmake (SOURCE_DIR set), or run alone to print the name:
#   cmake -P cmake/version.cmake
# Sets ARGREPORT_VERSION, ARGREPORT_TAGGED (the tag, or empty), ARGREPORT_EPOCH
# and ARGREPORT_REVISION (the commit's time and id, empty when unknown), and
# defines argreport_image_tag, which writes a version as an image tag can
# hold it. With -DARGREPORT_IMAGE_TAG_OF=VERSION, run as a script, it
# prints that instead of the name.
cmake_policy(VERSION 3.25) # run with -P, no project() has set them
if(NOT SOURCE_DIR)
    if(PROJECT_SOURCE_DIR)
        set(SOURCE_DIR "${PROJECT_SOURCE_DIR}")
    else()
        get_filename_component(SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
    endif()
endif()
if(NOT PROJECT_VERSION)
    file(STRINGS "${SOURCE_DIR}/CMakeLists.txt" line REGEX "^project\\(argreport VERSION ")
    string(REGEX REPLACE "^project\\(argreport VERSION ([0-9.]+).*" "\\1" PROJECT_VERSION "${line}")
endif()

# Formats a time in seconds since 1970, in UTC: string(TIMESTAMP) formats
# SOURCE_DATE_EPOCH when it is set, and the caller's is then put back.
function(argreport_time out format epoch)
    set(caller_epoch "$ENV{SOURCE_DATE_EPOCH}")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
    string(TIMESTAMP time "${format}" UTC)
    set(ENV{SOURCE_DATE_EPOCH} "${caller_epoch}")
    if(NOT caller_epoch)
        unset(ENV{SOURCE_DATE_EPOCH})
    endif()
    set(${out} "${time}" PARENT_SCOPE)
endfunction()

include("${CMAKE_CURRENT_LIST_DIR}/changelog.cmake")

set(ARGREPORT_VERSION "")
set(ARGREPORT_TAGGED "")
set(ARGREPORT_REVISION "")
set(ARGREPORT_EPOCH "")
# The tree's names come from one place: its git checkout, else the record of
# the source release it was unpacked from, else what git archive wrote into
# git-archive.cmake. A record found in a checkout is a stray file: it names
# nothing there.
set(record "${SOURCE_DIR}/packaging/source-release.cmake")
# The builder's git configuration must not change the answers:
# log.showSignature would add lines to git log's.
set(git git -c log.showSignature=false)
execute_process(COMMAND ${git} rev-parse --show-toplevel
    WORKING_DIRECTORY "${SOURCE_DIR}"
    OUTPUT_VARIABLE toplevel OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
get_filename_component(source_real "${SOURCE_DIR}" REALPATH)
if(toplevel)
    get_filename_component(toplevel "${toplevel}" REALPATH)
endif()
set(tags "")      # the release tags on the commit
set(released "") # whether project(VERSION)'s release is behind it
# Only this project's own checkout: not one it was unpacked into.
if(toplevel AND toplevel STREQUAL source_real)
    if(EXISTS "${record}")
        message(WARNING "${record} is ignored: in a git checkout the names come from git, and "
            "only a source release, outside git, carries that file. Remove it.")
    endif()
    execute_process(COMMAND ${git} log -1 --format=%ct%n%H
        WORKING_DIRECTORY "${SOURCE_DIR}"
        OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" commit "${commit}")
    # A build tree names the commit it was configured at: configured again
    # when another commit is checked out, or tagged, so that a later build
    # never carries an earlier commit's name.
    if(CMAKE_PROJECT_NAME)
        execute_process(COMMAND ${git} symbolic-ref -q HEAD
            WORKING_DIRECTORY "${SOURCE_DIR}"
            OUTPUT_VARIABLE branch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        set(watched HEAD packed-refs refs/tags ${branch})
        list(TRANSFORM watched PREPEND "--git-path;")
        execute_process(COMMAND ${git} rev-parse --path-format=absolute ${watched}
            WORKING_DIRECTORY "${SOURCE_DIR}"
            OUTPUT_VARIABLE watched OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        string(REPLACE "\n" ";" watched "${watched}")
        foreach(file IN LISTS watched)
            if(EXISTS "${file}")
                set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
            endif()
        endforeach()
    endif()
    list(GET commit 0 ARGREPORT_EPOCH)
    list(GET commit 1 ARGREPORT_REVISION)
    execute_process(COMMAND ${git} tag --points-at HEAD --list "v[0-9]*"
        WORKING_DIRECTORY "${SOURCE_DIR}"
        OUTPUT_VARIABLE tags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" tags "${tags}")
    foreach(tag IN LISTS tags)
        execute_process(COMMAND ${git} cat-file -t "refs/tags/${tag}"
            WORKING_DIRECTORY "${SOURCE_DIR}"
            OUTPUT_VARIABLE kind OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT kind STREQUAL "tag")
            message(FATAL_ERROR "The tag ${tag} is not annotated: a release is an annotated tag "
                "(git tag -d ${tag}; git tag -a ${tag}).")
        endif()
    endforeach()
    execute_process(COMMAND ${git} merge-base --is-ancestor "refs/tags/v${PROJECT_VERSION}" HEAD
        WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE not_released OUTPUT_QUIET ERROR_QUIET)
    if(not_released EQUAL 0)
        set(released TRUE)
    endif()
elseif(EXISTS "${record}")
    include("${record}")
else()
    # git archive fills it in (export-subst, in .gitattributes): the commit,
    # its time, and git describe of it, over annotated release tags, with
    # the whole id so that the line does not depend on the repository's size.
    include("${SOURCE_DIR}/packaging/release/git-archive.cmake")
    if(ARGREPORT_ARCHIVED_COMMIT MATCHES "^[0-9a-f]+$")
        set(ARGREPORT_EPOCH "${ARGREPORT_ARCHIVED_EPOCH}")
        set(ARGREPORT_REVISION "${ARGREPORT_ARCHIVED_COMMIT}")
        if(ARGREPORT_ARCHIVED_DESCRIBE MATCHES "^(v[0-9][^ ]*)-[0-9]+-g[0-9a-f]+$")
            if(CMAKE_MATCH_1 STREQUAL "v${PROJECT_VERSION}")
                set(released TRUE)
            endif()
        elseif(ARGREPORT_ARCHIVED_DESCRIBE MATCHES "^v[0-9]")
            set(tags "${ARGREPORT_ARCHIVED_DESCRIBE}")
        endif()
    elseif(ARGREPORT_NAME)
        set(ARGREPORT_VERSION "${ARGREPORT_NAME}")
    else()
        message(FATAL_ERROR "This tree cannot be named: it is not a git checkout, not an unpacked "
            "source release (packaging/source-release.cmake) and not made by git archive. Build "
            "it from one of those, or name it yourself, with -DARGREPORT_NAME=VERSION "
            "(cmake -DARGREPORT_NAME=VERSION -P cmake/version.cmake to print it), "
            "for example ${PROJECT_VERSION} for a copy of the release tagged v${PROJECT_VERSION}.")
    endif()
endif()

if(NOT ARGREPORT_VERSION AND ARGREPORT_REVISION)
    argreport_changelog_top("${SOURCE_DIR}/packaging/packages/changelog" changelog_version _)
    foreach(tag IN LISTS tags)
        string(REGEX REPLACE "^v" "" tagged "${tag}")
        if(NOT tagged STREQUAL PROJECT_VERSION)
            message(FATAL_ERROR "The tag ${tag} disagrees with CMakeLists.txt, whose "
                "project(VERSION) is ${PROJECT_VERSION}: a release tag names the version "
                "its commit declares. Delete the tag (git tag -d ${tag}) or tag the commit "
                "that declares ${tagged}.")
        endif()
        if(NOT changelog_version STREQUAL PROJECT_VERSION)
            message(FATAL_ERROR "The tag ${tag} disagrees with packaging/packages/changelog, whose "
                "top entry is for ${changelog_version}: a release's changelog starts with "
                "its own entry. Delete the tag (git tag -d ${tag}), add the entry and tag again.")
        endif()
        set(ARGREPORT_VERSION "${PROJECT_VERSION}")
        set(ARGREPORT_TAGGED "${tag}")
    endforeach()

    if(NOT ARGREPORT_VERSION)
        set(after "~")
        if(released)
            set(after "+")
        endif()
        argreport_time(day "%Y%m%d" "${ARGREPORT_EPOCH}")
        string(SUBSTRING "${ARGREPORT_REVISION}" 0 7 short)
        set(ARGREPORT_VERSION "${PROJECT_VERSION}${after}git${day}.${short}")
    endif()
endif()

# An image tag holds letters, digits, '_', '.' and '-': a snapshot's '+'
# becomes '_' and its '~' '-'. No name holds '_', and none a '-' before its
# packages' revision, so a tag still maps back to one name.
function(argreport_image_tag out version)
    string(REPLACE "+" "_" version "${version}")
    string(REPLACE "~" "-" version "${version}")
    set(${out} "${version}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(DEFINED ARGREPORT_IMAGE_TAG_OF)
        argreport_image_tag(tag "${ARGREPORT_IMAGE_TAG_OF}")
        execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${tag}")
    else()
        execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${ARGREPORT_VERSION}")
    endif()
endif()
