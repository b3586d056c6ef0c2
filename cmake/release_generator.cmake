# Read by CPack once per generator (CPACK_PROJECT_CONFIG_FILE): what goes
# into each archive, and where.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(release_components programs package_doc)
else()
  set(release_components programs readme)
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS)
foreach(component ${release_components})
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_RELEASE_BUILD_DIR}" "${CPACK_PACKAGE_NAME}" ${component} /)
endforeach()
