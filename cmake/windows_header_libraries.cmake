# The header-only libraries of the Windows cross build, CLI11 and nlohmann-json: Debian's own
# headers, the same ones the Linux build uses. They are copied into the build tree, because
# adding /usr/include to the cross compiler's search path would let the build machine's other
# headers shadow the mingw-w64 ones. No host pkg-config or package file is consulted.
set(KORVANEL_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
foreach(dir CLI nlohmann)
  if(NOT IS_DIRECTORY /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/deps --windows")
  endif()
  file(COPY /usr/include/${dir} DESTINATION ${KORVANEL_HOST_HEADERS})
endforeach()

foreach(target CLI11::CLI11 nlohmann_json::nlohmann_json)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${KORVANEL_HOST_HEADERS})
endforeach()
