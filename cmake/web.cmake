# The web page's build (emscripten): each program as a module that a worker
# of the page starts: a script and its WebAssembly, with no initial run (the
# worker calls main once a folder is put in place) and memory that grows with
# the input. web/build.mjs then writes the one page, the WebAssembly inside
# it.
set(web_link_options
    -sMODULARIZE=1
    -sENVIRONMENT=worker
    -sALLOW_MEMORY_GROWTH=1
    -sINVOKE_RUN=0
    -sEXIT_RUNTIME=0
    -sFORCE_FILESYSTEM=1
    -sEXPORTED_RUNTIME_METHODS=callMain,FS)
foreach(program frameconv clipmerge inspect3d)
  target_link_options(${program} PRIVATE ${web_link_options} -sEXPORT_NAME=${program}_module)
  set_target_properties(${program} PROPERTIES SUFFIX .js)
endforeach()

# The page itself, build-web/anim3d.html, from the three modules and web/ (its
# libraries installed there by npm ci, tools/setup.sh web).
find_program(NODE_PROGRAM node REQUIRED)
file(GLOB page_sources ${PROJECT_SOURCE_DIR}/web/*.js ${PROJECT_SOURCE_DIR}/web/*.mjs ${PROJECT_SOURCE_DIR}/web/page.html)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/anim3d.html
  COMMAND ${NODE_PROGRAM} ${PROJECT_SOURCE_DIR}/web/build.mjs ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/anim3d.html
  DEPENDS frameconv clipmerge inspect3d ${page_sources}
  COMMENT "Writing the page anim3d.html")
add_custom_target(page ALL DEPENDS ${CMAKE_BINARY_DIR}/anim3d.html)
