# Makes the tarball from the tree CPack staged: members sorted by name, owned
# by root, with fixed modes and the commit's time, compressed without gzip's
# own name and time stamp. The lintian override is for the .deb alone.
set(top "${ARGREPORT_TARBALL}")
set(tree "${CPACK_TEMPORARY_DIRECTORY}")
set(tarball "${CPACK_PACKAGE_DIRECTORY}/${top}.tar.gz")
execute_process(
    COMMAND tar --create --sort=name --format=gnu "--mtime=@$ENV{SOURCE_DATE_EPOCH}"
        --owner=0 --group=0 --numeric-owner --mode=go-w,u+w,a+rX
        "--transform=s,^\\.,${top}," --exclude=./share/lintian -C "${tree}" .
    COMMAND gzip -9n
    OUTPUT_FILE "${tarball}"
    COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES "${tarball}")
