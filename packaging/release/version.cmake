# The name of what is being built, used in every artefact's name, every
# package's version, the package note and the image's tag:
#   - VERSION, on a commit tagged vVERSION (an annotated tag) whose
#     project(VERSION) and changelog's top entry both say VERSION;
#   - otherwise a snapshot, LAST+gitYYYYMMDD.COMMIT, where LAST is the
#     version of the last release tag behind the commit (project(VERSION)
#     when there is none), the date is the commit's, in UTC, and COMMIT the
#     first 7 digits of its id. Debian and RPM both sort it after LAST.
# A build from a source tarball takes the name recorded in it.
#
# Included by CMakeLists.txt (PROJECT_SOURCE_DIR and PROJECT_VERSION set),
# by dist.cmake (SOURCE_DIR set), or run alone to print the name:
#   cmake -P packaging/release/version.cmake
# Sets ARGREPORT_VERSION, ARGREPORT_IMAGE_VERSION (an image tag cannot hold
# '+', which becomes '_'; nothing else in a version can be '_'),
# ARGREPORT_TAGGED (the tag, or empty), ARGREPORT_EPOCH and
# ARGREPORT_REVISION (the commit's time and id, empty outside git).
cmake_policy(VERSION 3.25) # run with -P, no project() has set them
if(NOT SOURCE_DIR)
    if(PROJECT_SOURCE_DIR)
        set(SOURCE_DIR "${PROJECT_SOURCE_DIR}")
    else()
        get_filename_component(SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
    endif()
endif()
if(NOT PROJECT_VERSION)
    file(STRINGS "${SOURCE_DIR}/CMakeLists.txt" line REGEX "^project\\(argreport VERSION ")
    string(REGEX REPLACE "^project\\(argreport VERSION ([0-9.]+).*" "\\1" PROJECT_VERSION "${line}")
endif()

set(ARGREPORT_VERSION "")
set(ARGREPORT_TAGGED "")
set(ARGREPORT_REVISION "")
set(ARGREPORT_EPOCH "")
if(EXISTS "${SOURCE_DIR}/packaging/source-release.cmake")
    include("${SOURCE_DIR}/packaging/source-release.cmake")
else()
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
    # Only this project's own checkout: not one it was unpacked into.
    if(toplevel AND toplevel STREQUAL source_real)
        execute_process(COMMAND ${git} log -1 --format=%ct%n%H
            WORKING_DIRECTORY "${SOURCE_DIR}"
            OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        string(REPLACE "\n" ";" commit "${commit}")
        list(GET commit 0 ARGREPORT_EPOCH)
        list(GET commit 1 ARGREPORT_REVISION)

        # The changelog's top entry: "argreport (VERSION-N) ...".
        file(STRINGS "${SOURCE_DIR}/packaging/packages/changelog" top LIMIT_COUNT 1)
        string(REGEX REPLACE "^argreport \\(([^)-]+)(-[0-9]+)?\\).*" "\\1" changelog_version "${top}")

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
            execute_process(COMMAND ${git} describe --tags --abbrev=0 --match "v[0-9]*" HEAD
                WORKING_DIRECTORY "${SOURCE_DIR}"
                OUTPUT_VARIABLE last OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            string(REGEX REPLACE "^v" "" last "${last}")
            if(NOT last)
                set(last "${PROJECT_VERSION}")
            endif()
            set(caller_epoch "$ENV{SOURCE_DATE_EPOCH}")
            set(ENV{SOURCE_DATE_EPOCH} "${ARGREPORT_EPOCH}")
            string(TIMESTAMP day "%Y%m%d" UTC)
            set(ENV{SOURCE_DATE_EPOCH} "${caller_epoch}")
            if(NOT caller_epoch)
                unset(ENV{SOURCE_DATE_EPOCH})
            endif()
            string(SUBSTRING "${ARGREPORT_REVISION}" 0 7 short)
            set(ARGREPORT_VERSION "${last}+git${day}.${short}")
        endif()
    endif()
endif()
# An exported tree with neither git nor a record: the declared version.
if(NOT ARGREPORT_VERSION)
    set(ARGREPORT_VERSION "${PROJECT_VERSION}")
endif()
string(REPLACE "+" "_" ARGREPORT_IMAGE_VERSION "${ARGREPORT_VERSION}")

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${ARGREPORT_VERSION}")
endif()
