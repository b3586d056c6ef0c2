# The archives of a release, made by CPack from these install rules
# (./build.sh package): for Windows a zip of the three programs and a
# README.txt; elsewhere a tar.gz of bin/ and the README with its docs/ pages, and a .deb that
# installs the programs in /usr/bin.
set(release_programs frameconv clipmerge inspect3d)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The anim3d developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "animated OBJ meshes to packed vertex animation files")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(release_system windows-x86)
  else()
    set(release_system windows-x86_64)
  endif()
  # note: Windows line ends, for the editors of every Windows (older Notepads
  # show a file with bare line feeds as one line).
  configure_file(packaging/README-windows.txt README.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS ${release_programs} RUNTIME DESTINATION . COMPONENT programs)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION . COMPONENT readme)
  set(CPACK_GENERATOR ZIP)
else()
  set(release_system linux-${CMAKE_SYSTEM_PROCESSOR})
  install(TARGETS ${release_programs} RUNTIME DESTINATION bin COMPONENT programs)
  # The README at the top of the tar.gz, and where Debian keeps a package's
  # documents in the .deb: two components, of which each generator takes one
  # (release_generator.cmake).
  # The pages the README links to go beside it, in docs/.
  file(GLOB release_pages docs/*.md docs/*.png)
  install(FILES README.md DESTINATION . COMPONENT readme)
  install(FILES ${release_pages} DESTINATION docs COMPONENT readme)
  install(FILES README.md DESTINATION share/doc/${PROJECT_NAME} COMPONENT package_doc)
  install(FILES ${release_pages} DESTINATION share/doc/${PROJECT_NAME}/docs COMPONENT package_doc)
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The anim3d developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  # The dependencies from the programs themselves (dpkg-shlibdeps): none for
  # the statically linked programs of a release build.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-${release_system})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/release_generator.cmake)
set(CPACK_RELEASE_BUILD_DIR ${CMAKE_BINARY_DIR})
include(CPack)
