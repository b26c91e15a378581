cmake_policy(VERSION 3.25) # run with -P, no project() has set them
# Run after cpack: leaves in DIR this build's artefacts, NAMES, alone, and
# a SHA256SUMS of them that sha256sum -c accepts there. Those of an earlier
# commit or revision, which have other names, are removed.
string(REPLACE "," ";" NAMES "${NAMES}") # commas: a list would not survive the command line
file(GLOB extra "${DIR}/*.json")
if(extra)
    file(REMOVE ${extra}) # the External generator's description of its input
endif()
file(GLOB artefacts RELATIVE "${DIR}" "${DIR}/*.deb" "${DIR}/*.rpm" "${DIR}/*.tar.gz")
foreach(name IN LISTS NAMES)
    if(NOT name IN_LIST artefacts)
        message(FATAL_ERROR "no ${DIR}/${name}: run cpack first")
    endif()
endforeach()
foreach(name IN LISTS artefacts)
    if(NOT name IN_LIST NAMES)
        message(STATUS "removing ${name}, of another build")
        file(REMOVE "${DIR}/${name}")
    endif()
endforeach()
set(artefacts ${NAMES})
list(SORT artefacts)
execute_process(COMMAND sha256sum ${artefacts}
    WORKING_DIRECTORY "${DIR}" OUTPUT_FILE "${DIR}/SHA256SUMS" COMMAND_ERROR_IS_FATAL ANY)
