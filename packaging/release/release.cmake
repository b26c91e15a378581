# The source release: the committed tree, with its commit's time and id,
# named when it is made (a tag may have come since the configuration).
add_custom_target(dist
    COMMAND "${CMAKE_COMMAND}" -D "SOURCE_DIR=${PROJECT_SOURCE_DIR}"
        -D "OUTPUT_DIR=${CMAKE_CURRENT_BINARY_DIR}"
        -D "RELEASE=${ARGREPORT_PACKAGE_RELEASE}" -P "${ARGREPORT_PACKAGING}/release/dist.cmake"
    COMMENT "Writing the source tarball of the commit checked out")

# What packaging/release/sbom.py needs to describe this build: the linker's map of
# what went into the binary, and the build's names and places.
if(ARGREPORT_LINK_OPTIONS)
    target_link_options(argreport PRIVATE "LINKER:-Map=${CMAKE_CURRENT_BINARY_DIR}/argreport.map")
endif()
file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/release.json" @ONLY CONTENT [[{
  "name": "@PROJECT_NAME@",
  "version": "@ARGREPORT_VERSION@",
  "package_version": "@ARGREPORT_PACKAGE_VERSION@",
  "package_revision": "@ARGREPORT_PACKAGE_RELEASE@",
  "image_version": "@ARGREPORT_IMAGE_VERSION@",
  "image_tag": "@PROJECT_NAME@:@ARGREPORT_IMAGE_VERSION@-@ARGREPORT_DEB_ARCH@",
  "commit": "@ARGREPORT_REVISION@",
  "tag": "@ARGREPORT_TAGGED@",
  "epoch": "@ARGREPORT_EPOCH@",
  "deb_arch": "@ARGREPORT_DEB_ARCH@",
  "rpm_arch": "@ARGREPORT_RPM_ARCH@",
  "machine": "@ARGREPORT_ARCH@",
  "oci_platform": "@ARGREPORT_OCI_PLATFORM@",
  "license": "@ARGREPORT_LICENSE@",
  "static": "@ARGREPORT_LINK_OPTIONS@",
  "musl_libdir": "@ARGREPORT_MUSL_LIBDIR@",
  "musl_copyright": "@ARGREPORT_MUSL_COPYRIGHT@",
  "musl_version": "@ARGREPORT_MUSL_VERSION@",
  "musl_upstream_version": "@ARGREPORT_MUSL_UPSTREAM_VERSION@",
  "compiler": "@CMAKE_CXX_COMPILER@",
  "supplier": "@CPACK_PACKAGE_VENDOR@",
  "contact": "@CPACK_PACKAGE_CONTACT@",
  "description": "@CPACK_PACKAGE_DESCRIPTION_SUMMARY@"
}
]])
