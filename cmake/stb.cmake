# stb's PNG writer and reader: header-only libraries (Debian's libstb-dev),
# copied into the build tree, and only that copy is on an include path. So no
# build, a cross-build to Windows neither, ever searches the host's include
# directory for them. Set ANIM3D_STB_DIR to the folder that holds the two
# headers where they are not found.
find_path(ANIM3D_STB_DIR stb_image_write.h PATH_SUFFIXES stb NO_CMAKE_FIND_ROOT_PATH
          DOC "Folder holding stb_image_write.h and stb_image.h")
if(NOT ANIM3D_STB_DIR)
  message(FATAL_ERROR "stb_image_write.h not found: install libstb-dev or set ANIM3D_STB_DIR")
endif()
set(ANIM3D_STAGED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/staged-include)
foreach(header stb_image_write.h stb_image.h)
  configure_file(${ANIM3D_STB_DIR}/${header} ${ANIM3D_STAGED_INCLUDE_DIR}/${header} COPYONLY)
endforeach()
