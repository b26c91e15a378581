# Run by cpack on each staged tree before it is packaged. Every file and
# directory takes the commit's time, so that no package records when a file
# was checked out, edited or built; the directories CPack made itself follow
# the umask of whoever ran it, and are set to 0755 as the installed ones are.
if(NOT IS_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}")
    message(FATAL_ERROR "no staged tree at '${CPACK_TEMPORARY_DIRECTORY}'")
endif()
execute_process(
    COMMAND find "${CPACK_TEMPORARY_DIRECTORY}" -type d -exec chmod 0755 {} +
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(
    COMMAND find "${CPACK_TEMPORARY_DIRECTORY}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
    COMMAND_ERROR_IS_FATAL ANY)
