# Run by cpack's External generator on the tree it staged (bin/, share/):
# makes the binary tarball and the .deb from it.
set(tree "${CPACK_TEMPORARY_DIRECTORY}")
set(epoch "$ENV{SOURCE_DATE_EPOCH}")

# The tarball: members sorted by name, owned by root, with fixed modes and
# the commit's time, compressed without gzip's own name and time stamp. It
# holds the files and the one directory of its own, share/doc/NAME: unpacked
# over /usr/local, it leaves the modes and owners of bin/, share/ and the
# rest as the system has them.
set(top "${ARGREPORT_TARBALL}")
set(tarball "${CPACK_PACKAGE_DIRECTORY}/${top}.tar.gz")
file(GLOB_RECURSE members RELATIVE "${tree}" "${tree}/*")
list(APPEND members "share/doc/${CPACK_PACKAGE_NAME}")
list(SORT members)
list(JOIN members "\n" members)
file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/tarball-members" "${members}\n")
execute_process(
    COMMAND tar --create --format=gnu --no-recursion "--mtime=@${epoch}"
        --owner=0 --group=0 --numeric-owner --mode=go-w,u+w,a+rX
        "--transform=s,^,${top}/," -C "${tree}"
        "--files-from=${CPACK_TOPLEVEL_DIRECTORY}/tarball-members"
    COMMAND gzip -9n
    OUTPUT_FILE "${tarball}"
    COMMAND_ERROR_IS_FATAL ANY)

# The .deb, as dpkg-deb writes it: the tree under usr/, Debian's lintian
# override, and a control file whose Installed-Size is counted as
# dpkg-gencontrol counts it (each file's size in KiB, rounded up, and 1 for
# any other object), not from what the build's file system says.
set(root "${CPACK_TOPLEVEL_DIRECTORY}/deb")
set(name "${CPACK_PACKAGE_NAME}")
file(REMOVE_RECURSE "${root}")
file(MAKE_DIRECTORY "${root}/DEBIAN")
file(COPY "${tree}/" DESTINATION "${root}/usr")
# With a revision in its version the package is not Debian-native, and its
# changelog, which carries that revision, is Debian's.
file(RENAME "${root}/usr/share/doc/${CPACK_PACKAGE_NAME}/changelog.gz"
    "${root}/usr/share/doc/${CPACK_PACKAGE_NAME}/changelog.Debian.gz")
set(depends "")
if(ARGREPORT_STATIC)
    file(MAKE_DIRECTORY "${root}/usr/share/lintian/overrides")
    file(COPY_FILE "${ARGREPORT_PACKAGING}/packages/lintian-overrides"
        "${root}/usr/share/lintian/overrides/${name}")
else() # linked dynamically: depend on what it was linked against
    file(MAKE_DIRECTORY "${root}/shlibdeps/debian")
    file(TOUCH "${root}/shlibdeps/debian/control")
    execute_process(COMMAND dpkg-shlibdeps -O "-e${root}/usr/bin/${name}"
        WORKING_DIRECTORY "${root}/shlibdeps" OUTPUT_VARIABLE depends COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX REPLACE "^shlibs:Depends=([^\n]*).*" "Depends: \\1\n" depends "${depends}")
    file(REMOVE_RECURSE "${root}/shlibdeps")
endif()
macro(run)
    execute_process(COMMAND ${ARGV} COMMAND_ERROR_IS_FATAL ANY)
endmacro()
run(find "${root}" -exec chmod go-w,u+w,a+rX {} +)

file(GLOB_RECURSE files LIST_DIRECTORIES true RELATIVE "${root}" "${root}/usr/*")
list(SORT files)
set(kib 1) # the top directory
set(md5sums "")
foreach(f IN LISTS files)
    if(IS_DIRECTORY "${root}/${f}")
        math(EXPR kib "${kib} + 1")
    else()
        file(SIZE "${root}/${f}" size)
        math(EXPR kib "${kib} + (${size} + 1023) / 1024")
        file(MD5 "${root}/${f}" md5)
        string(APPEND md5sums "${md5}  ${f}\n")
    endif()
endforeach()
string(REPLACE "\n\n" "\n.\n" long "${CPACK_PACKAGE_DESCRIPTION}")
string(REGEX REPLACE "\n" "\n " long " ${long}")
set(static_built_using "")
if(ARGREPORT_STATIC_BUILT_USING)
    set(static_built_using "Static-Built-Using: ${ARGREPORT_STATIC_BUILT_USING}\n")
endif()
file(WRITE "${root}/DEBIAN/control" "Package: ${name}
Version: ${ARGREPORT_PACKAGE_VERSION}
Architecture: ${ARGREPORT_DEB_ARCH}
Maintainer: ${CPACK_PACKAGE_CONTACT}
Installed-Size: ${kib}
${depends}${static_built_using}Section: utils
Priority: optional
Description: ${ARGREPORT_SYNOPSIS}
${long}
")
file(WRITE "${root}/DEBIAN/md5sums" "${md5sums}")
run(chmod 0644 "${root}/DEBIAN/control" "${root}/DEBIAN/md5sums")
run(find "${root}" -exec touch -h -d "@${epoch}" {} +)
set(deb "${CPACK_PACKAGE_DIRECTORY}/${name}_${ARGREPORT_PACKAGE_VERSION}_${ARGREPORT_DEB_ARCH}.deb")
execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${root}" "${deb}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

set(CPACK_EXTERNAL_BUILT_PACKAGES "${tarball}" "${deb}")
