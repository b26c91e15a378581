# Run by cpack on each staged tree before it is packaged: every file and
# directory takes the commit's time, so that no package records when a file
# was checked out, edited or built.
if(NOT IS_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}")
    message(FATAL_ERROR "no staged tree at '${CPACK_TEMPORARY_DIRECTORY}'")
endif()
execute_process(
    COMMAND find "${CPACK_TEMPORARY_DIRECTORY}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
    COMMAND_ERROR_IS_FATAL ANY)
