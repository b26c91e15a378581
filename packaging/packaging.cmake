# Installation and the artefacts: the install rules, the .deb, the RPM and the
# binary tarball (through CPack), the container image's context, and the
# source release. Included once, by the top-level CMakeLists.txt.
include(GNUInstallDirs)
set(ARGREPORT_PACKAGING "${CMAKE_CURRENT_LIST_DIR}")

# Every timestamp in an artefact is the commit's, so that no artefact records
# when it was built. SOURCE_DATE_EPOCH wins; otherwise version.cmake has
# taken the commit's time and id from git, from the record a source
# tarball carries (written by the dist target) or from what git archive
# wrote; a tree named with -DARGREPORT_NAME falls back to the time of the
# first release.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(ARGREPORT_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
endif()
if(NOT ARGREPORT_EPOCH MATCHES "^[0-9]+$")
    set(ARGREPORT_EPOCH 1796731200) # 2026-12-08 12:00 UTC, the 1.0.0 release
endif()
argreport_time(ARGREPORT_DATE "%Y-%m-%d" "${ARGREPORT_EPOCH}")
argreport_time(ARGREPORT_CREATED "%Y-%m-%dT%H:%M:%SZ" "${ARGREPORT_EPOCH}")

# Installed modes are fixed, whatever the umask of whoever installs or packs.
set(ARGREPORT_DIR_MODE OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${ARGREPORT_DIR_MODE})

# The architecture in each format's own spelling: the musl toolchain file
# names them for its targets; otherwise they are the host's.
if(NOT ARGREPORT_DEB_ARCH)
    set(ARGREPORT_ARCH "${CMAKE_SYSTEM_PROCESSOR}")
    execute_process(COMMAND dpkg --print-architecture
        OUTPUT_VARIABLE ARGREPORT_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT ARGREPORT_DEB_ARCH)
        set(ARGREPORT_DEB_ARCH "${ARGREPORT_ARCH}")
    endif()
    set(ARGREPORT_RPM_ARCH "${ARGREPORT_ARCH}")
    set(ARGREPORT_OCI_PLATFORM "")
endif()

# The copyright file: ours, and for a binary linked statically against musl
# the notices of the musl it was linked with, taken from that musl's own
# copyright file each time the build is configured, so that they follow an
# upgrade. Its paths are those of musl's source tree, under musl/.
set(ARGREPORT_COPYRIGHT "${CMAKE_CURRENT_BINARY_DIR}/copyright")
file(READ "${ARGREPORT_PACKAGING}/packages/copyright" copyright)
set(ARGREPORT_STATIC_BUILT_USING "")
set(ARGREPORT_MUSL_UPSTREAM_VERSION "")
if(ARGREPORT_MUSL_LIBDIR AND ARGREPORT_LINK_OPTIONS)
    execute_process(COMMAND dpkg-query -S "${ARGREPORT_MUSL_LIBDIR}/libc.a"
        OUTPUT_VARIABLE owner OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REGEX REPLACE ": /.*" "" owner "${owner}") # musl-dev:arm64
    if(owner)
        execute_process(
            COMMAND dpkg-query -W "-f=\${source:Package} (= \${source:Version})" "${owner}"
            OUTPUT_VARIABLE ARGREPORT_STATIC_BUILT_USING)
        string(REGEX REPLACE "^[^ ]* \\(= (.*)\\)$" "\\1" musl_version
            "${ARGREPORT_STATIC_BUILT_USING}")
        # Debian's version less its epoch and revision: musl's own.
        string(REGEX REPLACE "^([0-9]+:)?(.*)-[^-]*$" "\\2" ARGREPORT_MUSL_UPSTREAM_VERSION "${musl_version}")
        string(REGEX REPLACE ":.*" "" owner_name "${owner}")
        set(musl_copyright_default "/usr/share/doc/${owner_name}/copyright")
    endif()
    set(ARGREPORT_MUSL_COPYRIGHT "${musl_copyright_default}" CACHE FILEPATH
        "The copyright file, in Debian's machine-readable format, of the musl linked into the release")
    if(NOT EXISTS "${ARGREPORT_MUSL_COPYRIGHT}")
        message(FATAL_ERROR "musl's copyright file was not found: its notice must go with "
            "every copy of the binary. Name it with -DARGREPORT_MUSL_COPYRIGHT=FILE.")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ARGREPORT_MUSL_COPYRIGHT}")
    if(NOT musl_version)
        set(musl_version "(version unknown)")
    endif()
    execute_process(
        COMMAND awk -v "version=${musl_version}" -f "${ARGREPORT_PACKAGING}/packages/musl-notice.awk"
            "${ARGREPORT_MUSL_COPYRIGHT}"
        OUTPUT_VARIABLE musl_notice COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE "\n+$" "\n" musl_notice "${musl_notice}")
    string(APPEND copyright "\n${musl_notice}")
endif()
# The binary's licence as a whole, in SPDX's terms: ours, and the licences of
# the parts of musl it holds that ask for something (musl's start files are
# in the public domain). On armhf that is musl's memcpy, from Android, under
# BSD-2-Clause. The SBOM, made from the link map, stops packaging/release/release.sh
# if the binary holds anything else.
set(ARGREPORT_LICENSE MIT)
if(ARGREPORT_LINK_OPTIONS AND ARGREPORT_DEB_ARCH STREQUAL "armhf")
    set(ARGREPORT_LICENSE "MIT AND BSD-2-Clause")
endif()
string(REGEX REPLACE "(\nUpstream-Contact: [^\n]*\n)"
    "\\1Comment: The binary is under ${ARGREPORT_LICENSE} (an SPDX expression).\n" copyright "${copyright}")
file(CONFIGURE OUTPUT "${ARGREPORT_COPYRIGHT}" CONTENT "${copyright}")

# The man pages, English and Simplified Chinese, carry the version and the
# commit's date; they and the changelog go out compressed, without gzip's
# name and time stamp.
configure_file("${PROJECT_SOURCE_DIR}/argreport.1.in" argreport.1 @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/argreport.zh_CN.1.in" argreport.zh_CN.1.in @ONLY)
# groff breaks lines only at spaces, and a Chinese sentence has none. The
# script matches UTF-8 byte by byte, which gawk (Fedora's awk) refuses to do
# in a UTF-8 locale.
execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env LC_ALL=C
        awk -f "${PROJECT_SOURCE_DIR}/docs/zh-breaks.awk" "${CMAKE_CURRENT_BINARY_DIR}/argreport.zh_CN.1.in"
    OUTPUT_VARIABLE page COMMAND_ERROR_IS_FATAL ANY)
file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/argreport.zh_CN.1" CONTENT "${page}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/docs/zh-breaks.awk")
# The packages' revision: 1 for a version's first packages, one more for each
# rebuild of the same source that gives other bytes (a new musl, a new
# toolchain, a fix to the tools that make the packages), so that its
# checksums are new names too and apt and dnf upgrade to it. Written
# 0upstreamN, as Debian's revision and RPM's Release: both sort it before a
# distribution's own packages of the same version (Debian's -1 or -0.1,
# Fedora's 1.fc40), which then replace it.
set(ARGREPORT_PACKAGE_REVISION 1 CACHE STRING "The packages' revision N (Debian's VERSION-0upstreamN, RPM's Release 0upstreamN)")
if(NOT ARGREPORT_PACKAGE_REVISION MATCHES "^[1-9][0-9]*$")
    message(FATAL_ERROR "ARGREPORT_PACKAGE_REVISION=${ARGREPORT_PACKAGE_REVISION} is not a positive number")
endif()
set(ARGREPORT_PACKAGE_RELEASE "0upstream${ARGREPORT_PACKAGE_REVISION}")
set(ARGREPORT_PACKAGE_VERSION "${ARGREPORT_VERSION}-${ARGREPORT_PACKAGE_RELEASE}")
# The changelog the packages carry starts with their own version: the
# project's, when its top entry is this revision of this version; else with
# an entry for the snapshot or the rebuild, ahead of the project's.
file(READ "${ARGREPORT_PACKAGING}/packages/changelog" changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ARGREPORT_PACKAGING}/packages/changelog")
string(REGEX MATCH "^argreport \\(([^)-]+)-0upstream([0-9]+)\\)" top "${changelog}")
if(NOT top)
    message(FATAL_ERROR "packaging/packages/changelog does not start with an entry \"argreport (VERSION-0upstreamN) ...\"")
endif()
if(CMAKE_MATCH_1 STREQUAL ARGREPORT_VERSION AND CMAKE_MATCH_2 GREATER ARGREPORT_PACKAGE_REVISION)
    message(FATAL_ERROR "packaging/packages/changelog's top entry is ${CMAKE_MATCH_1}-0upstream${CMAKE_MATCH_2}, later "
        "than revision ${ARGREPORT_PACKAGE_REVISION}, which is being built: build revision "
        "${CMAKE_MATCH_2} or later (-DARGREPORT_PACKAGE_REVISION=${CMAKE_MATCH_2})")
elseif(NOT (CMAKE_MATCH_1 STREQUAL ARGREPORT_VERSION AND CMAKE_MATCH_2 EQUAL ARGREPORT_PACKAGE_REVISION))
    if(ARGREPORT_VERSION STREQUAL CMAKE_MATCH_1)
        set(why "Rebuilt from the source of ${CMAKE_MATCH_1}-0upstream${CMAKE_MATCH_2}")
        set(distribution unstable)
        # Dated when it is rebuilt, which only the rebuilder knows; the same
        # date builds the same bytes again.
        if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
            message(FATAL_ERROR "Revision ${ARGREPORT_PACKAGE_REVISION} is a rebuild, whose changelog entry "
                "is dated by the rebuilder: set SOURCE_DATE_EPOCH to the rebuild's time "
                "(SOURCE_DATE_EPOCH=$(date +%s)), and give the same value to build it again.")
        endif()
    else()
        set(why "Snapshot of commit ${ARGREPORT_REVISION}, not a release")
        set(distribution UNRELEASED)
    endif()
    if(ARGREPORT_STATIC_BUILT_USING)
        string(APPEND why ".\n  * Linked statically with ${ARGREPORT_STATIC_BUILT_USING}")
    endif()
    argreport_time(when "%a, %d %b %Y %H:%M:%S +0000" "${ARGREPORT_EPOCH}")
    set(changelog "argreport (${ARGREPORT_PACKAGE_VERSION}) ${distribution}; urgency=medium

  * ${why}.

 -- The argreport developers <maintainers@users.noreply.c-seed-8142300e.example>  ${when}

${changelog}")
endif()
file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/changelog" CONTENT "${changelog}")

foreach(doc "${CMAKE_CURRENT_BINARY_DIR}/argreport.1" "${CMAKE_CURRENT_BINARY_DIR}/argreport.zh_CN.1"
        "${CMAKE_CURRENT_BINARY_DIR}/changelog")
    get_filename_component(name "${doc}" NAME)
    add_custom_command(OUTPUT "${name}.gz"
        COMMAND gzip -9n < "${doc}" > "${name}.gz"
        DEPENDS "${doc}" VERBATIM)
    list(APPEND ARGREPORT_COMPRESSED "${CMAKE_CURRENT_BINARY_DIR}/${name}.gz")
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${ARGREPORT_COMPRESSED})

install(TARGETS argreport RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# strip keeps the compiler's .comment note, which says nothing a user needs.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/argreport\"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/argreport.1.gz"
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/argreport.zh_CN.1.gz"
    DESTINATION ${CMAKE_INSTALL_MANDIR}/zh_CN/man1 RENAME argreport.1.gz)
install(FILES README.md README.zh-CN.md "${ARGREPORT_COPYRIGHT}" "${CMAKE_CURRENT_BINARY_DIR}/changelog.gz"
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The packages.
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The argreport developers")
set(CPACK_PACKAGE_CONTACT "The argreport developers <maintainers@users.noreply.c-seed-8142300e.example>")
# Debian's synopsis starts in lower case, as it reads on after the name;
# Fedora's summary starts with a capital.
set(ARGREPORT_SYNOPSIS "show the argument vector a program receives, byte for byte")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Show the argument vector a program receives, byte for byte")
set(CPACK_PACKAGE_DESCRIPTION
    "argreport prints how many entries its argument vector holds, every entry\n"
    "with its position, exactly as received, and its first argument read as a\n"
    "decimal integer. Started in place of a real program, it shows how a shell,\n"
    "xargs, find -exec, a service manager or a container runtime split a\n"
    "command line.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${ARGREPORT_VERSION}")
# The revision in its name, as in every artefact whose bytes a rebuild changes.
set(ARGREPORT_TARBALL ${PROJECT_NAME}-${ARGREPORT_PACKAGE_VERSION}-linux-${ARGREPORT_ARCH})

# The container image's context: the stripped binary, the copyright file and
# the image's annotations, from which packaging/image/build-image.sh builds it.
set(ARGREPORT_IMAGE_DIR "${CMAKE_CURRENT_BINARY_DIR}/image")
add_custom_command(OUTPUT "${ARGREPORT_IMAGE_DIR}/argreport" "${ARGREPORT_IMAGE_DIR}/copyright"
    COMMAND "${CMAKE_OBJCOPY}" --strip-all --remove-section=.comment
        "$<TARGET_FILE:argreport>" "${ARGREPORT_IMAGE_DIR}/argreport"
    COMMAND "${CMAKE_COMMAND}" -E copy "${ARGREPORT_COPYRIGHT}" "${ARGREPORT_IMAGE_DIR}/copyright"
    DEPENDS argreport "${ARGREPORT_COPYRIGHT}" VERBATIM)
add_custom_target(image_context DEPENDS "${ARGREPORT_IMAGE_DIR}/argreport"
    "${ARGREPORT_IMAGE_DIR}/copyright")
# Tagged with the version and the architecture; a native build is also the
# version's and latest, the name the README runs, which stays the same from
# a snapshot to a release, until packaging/image/build-images.sh gives both
# names to the manifest list over every architecture's image, whose native
# entry it is. A tag cannot hold a snapshot's '+', which becomes '_'. A list
# already holding a name is removed first, or the build would leave it
# behind unnamed.
set(image_names ${PROJECT_NAME}:${ARGREPORT_IMAGE_VERSION}-${ARGREPORT_DEB_ARCH})
set(image_list_cleanup "")
if(NOT CMAKE_CROSSCOMPILING)
    list(APPEND image_names ${PROJECT_NAME}:${ARGREPORT_IMAGE_VERSION} ${PROJECT_NAME}:latest)
    foreach(tag ${ARGREPORT_IMAGE_VERSION} latest)
        list(APPEND image_list_cleanup COMMAND sh -c
            "! podman manifest exists \"$1\" 2>/dev/null || podman manifest rm \"$1\" >/dev/null"
            sh localhost/${PROJECT_NAME}:${tag})
    endforeach()
endif()
# The image's annotations, and labels, which build-images.sh gives the list's
# entries too. No address where the source is published: the project has
# none yet.
set(image_annotations
    "org.opencontainers.image.title=${PROJECT_NAME}"
    "org.opencontainers.image.description=${CPACK_PACKAGE_DESCRIPTION_SUMMARY}"
    "org.opencontainers.image.version=${ARGREPORT_VERSION}"
    "org.opencontainers.image.revision=${ARGREPORT_REVISION}"
    "org.opencontainers.image.created=${ARGREPORT_CREATED}"
    "org.opencontainers.image.licenses=${ARGREPORT_LICENSE}"
    "org.opencontainers.image.vendor=${CPACK_PACKAGE_VENDOR}"
    "org.opencontainers.image.authors=${CPACK_PACKAGE_CONTACT}")
list(JOIN image_annotations "\n" annotations)
file(CONFIGURE OUTPUT "${ARGREPORT_IMAGE_DIR}/annotations" CONTENT "${annotations}\n")
add_custom_target(image
    ${image_list_cleanup}
    COMMAND "${ARGREPORT_PACKAGING}/image/build-image.sh" "${ARGREPORT_IMAGE_DIR}"
        ${ARGREPORT_EPOCH} "${ARGREPORT_OCI_PLATFORM}" ${image_names}
    DEPENDS image_context
    COMMENT "Building the image ${PROJECT_NAME}:${ARGREPORT_IMAGE_VERSION}-${ARGREPORT_DEB_ARCH} with buildah"
    VERBATIM)

# The source release: the committed tree, with its commit's time and id,
# named when it is made (a tag may have come since the configuration).
add_custom_target(dist
    COMMAND "${CMAKE_COMMAND}" -D "SOURCE_DIR=${PROJECT_SOURCE_DIR}"
        -D "OUTPUT_DIR=${CMAKE_CURRENT_BINARY_DIR}"
        -D "RELEASE=${ARGREPORT_PACKAGE_RELEASE}" -P "${ARGREPORT_PACKAGING}/release/dist.cmake"
    COMMENT "Writing the source tarball of the commit checked out")

# How CPack makes the packages.
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${ARGREPORT_DIR_MODE})
# CPack works in cpack/; the artefacts and their checksums go to packages/.
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/cpack")
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_CURRENT_BINARY_DIR}/packages")
# CPack's source package is refused in cpack-options.cmake.in: the source
# release is the dist target's.

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_LICENSE "${ARGREPORT_LICENSE}")
set(CPACK_RPM_PACKAGE_RELEASE "${ARGREPORT_PACKAGE_RELEASE}")
set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# Installed where the files say, not wherever rpm --prefix says: CPack makes
# a package relocatable unless told both.
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_PACKAGE_ARCHITECTURE "${ARGREPORT_RPM_ARCH}")
set(CPACK_RPM_USER_FILELIST "%license /usr/share/doc/argreport/copyright"
    "%lang(zh_CN) /usr/share/man/zh_CN/man1/argreport.1.gz")
set(CPACK_RPM_CHANGELOG_FILE "${CMAKE_CURRENT_BINARY_DIR}/rpm-changelog")
if(ARGREPORT_LINK_OPTIONS)
    # A static binary needs no loader and no library: without this, rpm
    # would make it require rtld(GNU_HASH).
    set(CPACK_RPM_PACKAGE_AUTOREQ "no")
    # What it holds of musl, named as Fedora names a bundled library, so that
    # a security notice about that musl finds this package too.
    if(ARGREPORT_MUSL_UPSTREAM_VERSION)
        set(CPACK_RPM_PACKAGE_PROVIDES "bundled(musl) = ${ARGREPORT_MUSL_UPSTREAM_VERSION}")
    else()
        set(CPACK_RPM_PACKAGE_PROVIDES "bundled(musl)")
    endif()
endif()
# Those directories belong to the file system's own package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man /usr/share/man/man1
    /usr/share/man/zh_CN /usr/share/man/zh_CN/man1)
# No build host, build time or file time of the build machine's own.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}
%define _buildhost reproducible
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define source_date_epoch_from_changelog 0
%define _build_id_links none
%define __os_install_post %{nil}")
execute_process(
    COMMAND awk -f "${ARGREPORT_PACKAGING}/packages/rpm-changelog.awk" "${CMAKE_CURRENT_BINARY_DIR}/changelog"
    OUTPUT_FILE "${CPACK_RPM_CHANGELOG_FILE}" COMMAND_ERROR_IS_FATAL ANY)

# The binary tarball and the .deb are made by our own script, from the tree
# CPack staged: dpkg-deb writes the .deb as Debian's tools do.
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${ARGREPORT_PACKAGING}/packages/tarball-and-deb.cmake")
set(CPACK_PRE_BUILD_SCRIPTS "${ARGREPORT_PACKAGING}/packages/fix-staged-tree.cmake")
set(CPACK_GENERATOR RPM External)
configure_file("${ARGREPORT_PACKAGING}/packages/cpack-options.cmake.in" cpack-options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_BINARY_DIR}/cpack-options.cmake")
include(CPack)

# After cpack: the artefacts alone in packages/, and their checksums.
add_custom_target(checksums
    COMMAND "${CMAKE_COMMAND}" -D "DIR=${CPACK_OUTPUT_FILE_PREFIX}"
        "-DNAMES=${PROJECT_NAME}_${ARGREPORT_PACKAGE_VERSION}_${ARGREPORT_DEB_ARCH}.deb,${PROJECT_NAME}-${ARGREPORT_PACKAGE_VERSION}.${ARGREPORT_RPM_ARCH}.rpm,${ARGREPORT_TARBALL}.tar.gz"
        -P "${ARGREPORT_PACKAGING}/packages/checksums.cmake"
    COMMENT "Writing packages/SHA256SUMS")
include("${ARGREPORT_PACKAGING}/release/sbom.cmake")
