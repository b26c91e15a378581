# The container image's context: the stripped binary, the copyright file and
# the image's annotations, from which packaging/image/build-image.sh builds it.
set(ARGREPORT_IMAGE_DIR "${CMAKE_CURRENT_BINARY_DIR}/image")
add_custom_command(OUTPUT "${ARGREPORT_IMAGE_DIR}/argreport" "${ARGREPORT_IMAGE_DIR}/copyright"
    COMMAND "${CMAKE_OBJCOPY}" --strip-all --remove-section=.comment
        "$<TARGET_FILE:argreport>" "${ARGREPORT_IMAGE_DIR}/argreport"
    COMMAND "${CMAKE_COMMAND}" -E copy "${ARGREPORT_COPYRIGHT}" "${ARGREPORT_IMAGE_DIR}/copyright"
    DEPENDS argreport "${ARGREPORT_COPYRIGHT}" VERBATIM)
add_custom_target(image_context DEPENDS "${ARGREPORT_IMAGE_DIR}/argreport"
    "${ARGREPORT_IMAGE_DIR}/copyright")
# Tagged with the packages' version and the architecture; a native build is
# also the packages' version's and latest, the name the README runs, which
# stays the same from a snapshot to a release, until
# packaging/image/build-images.sh gives both names to the manifest list over
# every architecture's image, whose native entry it is. latest is the one
# name that moves: to the newest build. A list already holding a name is
# removed first, or the build would leave it behind unnamed.
set(image_names ${PROJECT_NAME}:${ARGREPORT_IMAGE_VERSION}-${ARGREPORT_DEB_ARCH})
set(image_list_cleanup "")
if(NOT CMAKE_CROSSCOMPILING)
    list(APPEND image_names ${PROJECT_NAME}:${ARGREPORT_IMAGE_VERSION} ${PROJECT_NAME}:latest)
    foreach(tag ${ARGREPORT_IMAGE_VERSION} latest)
        list(APPEND image_list_cleanup COMMAND sh -c
            "! podman manifest exists \"$1\" 2>/dev/null || podman manifest rm \"$1\" >/dev/null"
            sh localhost/${PROJECT_NAME}:${tag})
    endforeach()
endif()
# The image's annotations, and labels, which build-images.sh gives the list's
# entries too. No address where the source is published: the project has
# none yet.
set(image_annotations
    "org.opencontainers.image.title=${PROJECT_NAME}"
    "org.opencontainers.image.description=${CPACK_PACKAGE_DESCRIPTION_SUMMARY}"
    "org.opencontainers.image.version=${ARGREPORT_VERSION}"
    "org.opencontainers.image.revision=${ARGREPORT_REVISION}"
    "org.opencontainers.image.created=${ARGREPORT_CREATED}"
    "org.opencontainers.image.licenses=${ARGREPORT_LICENSE}"
    "org.opencontainers.image.vendor=${CPACK_PACKAGE_VENDOR}"
    "org.opencontainers.image.authors=${CPACK_PACKAGE_CONTACT}")
list(JOIN image_annotations "\n" annotations)
file(CONFIGURE OUTPUT "${ARGREPORT_IMAGE_DIR}/annotations" CONTENT "${annotations}\n")
add_custom_target(image
    ${image_list_cleanup}
    COMMAND "${ARGREPORT_PACKAGING}/image/build-image.sh" "${ARGREPORT_IMAGE_DIR}"
        ${ARGREPORT_EPOCH} "${ARGREPORT_OCI_PLATFORM}" ${image_names}
    DEPENDS image_context
    COMMENT "Building the image ${PROJECT_NAME}:${ARGREPORT_IMAGE_VERSION}-${ARGREPORT_DEB_ARCH} with buildah"
    VERBATIM)
