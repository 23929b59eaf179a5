# wavelibs_add_library(NAME HEADER SOURCES...)
# Builds one of the project's shared libraries the same way every time: C linkage exports only
# (hidden visibility by default), no exceptions or RTTI, a SONAME, and linked by the C driver so
# that nothing but libc and libm is needed at run time.
function(wavelibs_add_library name header)
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINKER_LANGUAGE C
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    PUBLIC_HEADER ${CMAKE_CURRENT_SOURCE_DIR}/${header})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_options(${name} PRIVATE ${WAVELIBS_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  if(NOT WAVELIBS_SANITIZE)
    # Undefined references are errors; with sanitizers the runtime provides them at load time.
    target_link_options(${name} PRIVATE -Wl,--no-undefined -Wl,--as-needed)
  endif()
  target_link_libraries(${name} PRIVATE m)
endfunction()
