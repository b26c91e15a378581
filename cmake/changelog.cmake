# packaging/packages/changelog, in Debian's format, read and headed in one
# place for the tag's check (version.cmake), the packages' changelogs
# (packaging/install.cmake) and the spec's (packaging/release/dist.cmake).
# Needs argreport_time, from version.cmake.

# The top entry's version, its packages' revision (0upstreamN) and who wrote
# it, from "argreport (VERSION-0upstreamN) ..." and its " -- NAME <ADDRESS>  DATE" line.
function(argreport_changelog_top file out_version out_release)
    file(READ "${file}" text)
    if(NOT text MATCHES "^argreport \\(([^)-]+)-(0upstream[1-9][0-9]*)\\) [^\n]*\n(.*)")
        message(FATAL_ERROR "${file} does not start with an entry \"argreport (VERSION-0upstreamN) ...\"")
    endif()
    set(${out_version} "${CMAKE_MATCH_1}" PARENT_SCOPE)
    set(${out_release} "${CMAKE_MATCH_2}" PARENT_SCOPE)
    if(ARGN AND CMAKE_MATCH_3 MATCHES "\n -- ([^\n]*>)  ")
        set(${ARGN} "${CMAKE_MATCH_1}" PARENT_SCOPE)
    endif()
endfunction()

# The changelog of the packages VERSION-RELEASE: the project's, headed by an
# entry of their own unless its top entry is theirs, dated EPOCH, with the
# items given after it. A rebuild of the top entry's version is a release
# of that version, published and signed: its entry is for unstable, as the
# version's own is. A snapshot is never released: its entry is UNRELEASED,
# which is how Debian marks an entry that no upload carries yet, and which
# dpkg-parsechangelog and lintian read as such.
function(argreport_changelog out file version release epoch)
    file(READ "${file}" changelog)
    argreport_changelog_top("${file}" top_version top_release maintainer)
    if(NOT (top_version STREQUAL version AND top_release STREQUAL release))
        if(top_version STREQUAL version)
            set(items "Rebuilt from the source of ${top_version}-${top_release}.")
            set(distribution unstable)
        else()
            set(items "Snapshot of commit ${ARGREPORT_REVISION}, not a release.")
            set(distribution UNRELEASED)
        endif()
        list(APPEND items ${ARGN})
        list(TRANSFORM items PREPEND "  * ")
        list(JOIN items "\n" items)
        argreport_time(when "%a, %d %b %Y %H:%M:%S +0000" "${epoch}")
        set(changelog "argreport (${version}-${release}) ${distribution}; urgency=medium

${items}

 -- ${maintainer}  ${when}

${changelog}")
    endif()
    set(${out} "${changelog}" PARENT_SCOPE)
endfunction()
