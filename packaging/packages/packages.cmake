# The .deb, the RPM and the binary tarball, made by CPack from what
# install.cmake installs, and their checksums.
# The revision in its name, as in every artefact whose bytes a rebuild changes.
set(ARGREPORT_TARBALL ${PROJECT_NAME}-${ARGREPORT_PACKAGE_VERSION}-linux-${ARGREPORT_ARCH})

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
# No build host, build time or file time of the build machine's own, as
# reproducible.macros says, here as the spec's own definitions.
file(STRINGS "${ARGREPORT_PACKAGING}/packages/reproducible.macros" reproducible REGEX "^%")
list(TRANSFORM reproducible REPLACE "^%" "%define ")
list(JOIN reproducible "\n" reproducible)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ARGREPORT_PACKAGING}/packages/reproducible.macros")
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${CPACK_PACKAGE_CONTACT}
${reproducible}
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
