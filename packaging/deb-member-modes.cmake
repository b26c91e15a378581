# Run by cpack after it made the packages. The .deb is an ar archive whose
# member headers carry the modes its three members were created with, and
# those follow the umask of whoever ran cpack. They are set to 0644 here, as
# dpkg-deb itself writes them, so that the package is the same bytes under
# any umask.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "\\.deb$")
        continue()
    endif()
    file(SIZE "${package}" size)
    set(header 8) # after "!<arch>\n"
    while(header LESS size)
        # A header: name 16, date 12, uid 6, gid 6, mode 8, size 10, magic 2.
        math(EXPR mode_at "${header} + 40")
        math(EXPR size_at "${header} + 48")
        file(READ "${package}" member_size OFFSET ${size_at} LIMIT 10)
        execute_process(
            COMMAND printf "100644  "
            COMMAND dd "of=${package}" bs=1 seek=${mode_at} conv=notrunc status=none
            COMMAND_ERROR_IS_FATAL ANY)
        string(STRIP "${member_size}" member_size)
        math(EXPR header "${header} + 60 + ${member_size} + ${member_size} % 2")
    endwhile()
endforeach()
