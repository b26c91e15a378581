# Run after cpack: leaves in DIR the artefacts alone, and a SHA256SUMS of
# them that sha256sum -c accepts there.
file(GLOB extra "${DIR}/*.json")
if(extra)
    file(REMOVE ${extra}) # the External generator's description of its input
endif()
file(GLOB artefacts RELATIVE "${DIR}" "${DIR}/*.deb" "${DIR}/*.rpm" "${DIR}/*.tar.gz")
if(NOT artefacts)
    message(FATAL_ERROR "no artefacts in ${DIR}: run cpack first")
endif()
list(SORT artefacts)
execute_process(COMMAND sha256sum ${artefacts}
    WORKING_DIRECTORY "${DIR}" OUTPUT_FILE "${DIR}/SHA256SUMS" COMMAND_ERROR_IS_FATAL ANY)
