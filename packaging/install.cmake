# What `cmake --install` installs, and so every package: the binary, the
# copyright file, both man pages and the changelog, the READMEs.

# The copyright file: ours, and for a binary linked statically against musl
# the notices of the musl it was linked with, taken from that musl's own
# copyright file each time the build is configured, so that they follow an
# upgrade. Its paths are those of musl's source tree, under musl/.
set(ARGREPORT_COPYRIGHT "${CMAKE_CURRENT_BINARY_DIR}/copyright")
file(READ "${ARGREPORT_PACKAGING}/packages/copyright" copyright)
set(ARGREPORT_STATIC_BUILT_USING "")
# musl's version as Debian gives it, and as musl itself does: the CPE, the
# RPM's bundled(musl) and the SBOM name musl by that.
set(ARGREPORT_MUSL_VERSION "")
set(ARGREPORT_MUSL_UPSTREAM_VERSION "")
if(ARGREPORT_MUSL_LIBDIR AND ARGREPORT_LINK_OPTIONS)
    execute_process(COMMAND dpkg-query -S "${ARGREPORT_MUSL_LIBDIR}/libc.a"
        OUTPUT_VARIABLE owner OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REGEX REPLACE ": /.*" "" owner "${owner}") # musl-dev:arm64
    if(owner)
        execute_process(
            COMMAND dpkg-query -W "-f=\${source:Package} (= \${source:Version})" "${owner}"
            OUTPUT_VARIABLE ARGREPORT_STATIC_BUILT_USING)
        string(REGEX REPLACE "^[^ ]* \\(= (.*)\\)$" "\\1" ARGREPORT_MUSL_VERSION
            "${ARGREPORT_STATIC_BUILT_USING}")
        # Debian's version less its epoch and revision: musl's own.
        string(REGEX REPLACE "^([0-9]+:)?(.*)-[^-]*$" "\\2" ARGREPORT_MUSL_UPSTREAM_VERSION "${ARGREPORT_MUSL_VERSION}")
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
    set(musl_version "${ARGREPORT_MUSL_VERSION}")
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
        awk -f "${PROJECT_SOURCE_DIR}/zh-breaks.awk" "${CMAKE_CURRENT_BINARY_DIR}/argreport.zh_CN.1.in"
    OUTPUT_VARIABLE page COMMAND_ERROR_IS_FATAL ANY)
file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/argreport.zh_CN.1" CONTENT "${page}" @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/zh-breaks.awk")
# The changelog the packages carry starts with their own version: the
# project's, when its top entry is this revision of this version; else with
# an entry for the snapshot or the rebuild, ahead of the project's.
set(project_changelog "${ARGREPORT_PACKAGING}/packages/changelog")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${project_changelog}")
argreport_changelog_top("${project_changelog}" top_version top_release)
string(REPLACE "0upstream" "" top_revision "${top_release}")
if(top_version STREQUAL ARGREPORT_VERSION AND top_revision GREATER ARGREPORT_PACKAGE_REVISION)
    message(FATAL_ERROR "packaging/packages/changelog's top entry is ${top_version}-${top_release}, later "
        "than revision ${ARGREPORT_PACKAGE_REVISION}, which is being built: build revision "
        "${top_revision} or later (-DARGREPORT_PACKAGE_REVISION=${top_revision})")
elseif(top_version STREQUAL ARGREPORT_VERSION AND NOT top_revision EQUAL ARGREPORT_PACKAGE_REVISION
       AND NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    # A rebuild is dated when it is rebuilt, which only the rebuilder knows;
    # the same date builds the same bytes again.
    message(FATAL_ERROR "Revision ${ARGREPORT_PACKAGE_REVISION} is a rebuild, whose changelog entry "
        "is dated by the rebuilder: set SOURCE_DATE_EPOCH to the rebuild's time "
        "(SOURCE_DATE_EPOCH=$(date +%s)), and give the same value to build it again.")
endif()
set(linked "")
if(ARGREPORT_STATIC_BUILT_USING)
    set(linked "Linked statically with ${ARGREPORT_STATIC_BUILT_USING}.")
endif()
argreport_changelog(changelog "${project_changelog}" "${ARGREPORT_VERSION}" "${ARGREPORT_PACKAGE_RELEASE}"
    "${ARGREPORT_EPOCH}" ${linked})
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
