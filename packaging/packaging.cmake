# Installation and the artefacts, each made by a file of its own, included
# here in the order their settings are needed: what `cmake --install`
# installs (install.cmake), the .deb, the RPM and the binary tarball
# (packages/), the container image (image/) and the source release and the
# build's description for the SBOMs (release/). This file holds what they
# all share. Included once, by the top-level CMakeLists.txt.
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
# The images are named after the packages' version too: a rebuild's image is
# another image, under another tag, and no tag ever moves to other bytes.
argreport_image_tag(ARGREPORT_IMAGE_VERSION "${ARGREPORT_PACKAGE_VERSION}")

# Who makes it and what it is, as every artefact says it.
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

include("${ARGREPORT_PACKAGING}/install.cmake")
include("${ARGREPORT_PACKAGING}/packages/packages.cmake")
include("${ARGREPORT_PACKAGING}/image/image.cmake")
include("${ARGREPORT_PACKAGING}/release/release.cmake")
