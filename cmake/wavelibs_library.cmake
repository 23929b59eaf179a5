# wavelibs_add_library(NAME HEADER [WITH_STATIC] SOURCES...)
# Builds one of the project's shared libraries the same way every time: C linkage exports only
# (hidden visibility by default), no exceptions or RTTI, a SONAME, and linked by the C driver so
# that nothing but libc and libm is needed at run time.
# WITH_STATIC also makes NAME_static, a static library of the same object files, for the tests,
# benchmarks and fuzz targets that force each kernel under the public functions (never
# installed): the sources are compiled once, into NAME_objects (position-independent, symbols
# hidden; static linking ignores visibility), and both libraries are made from those objects.
# Usage requirements the sources need (include folders of other targets, definitions) then go
# to NAME_objects.
function(wavelibs_add_library name header)
  cmake_parse_arguments(L "WITH_STATIC" "" "" ${ARGN})
  if(L_WITH_STATIC)
    set(compiled ${name}_objects)
    add_library(${compiled} OBJECT ${L_UNPARSED_ARGUMENTS})
    target_include_directories(${compiled} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    add_library(${name} SHARED $<TARGET_OBJECTS:${compiled}>)
    add_library(${name}_static STATIC $<TARGET_OBJECTS:${compiled}>)
    target_include_directories(${name}_static PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  else()
    set(compiled ${name})
    add_library(${name} SHARED ${L_UNPARSED_ARGUMENTS})
  endif()
  set_target_properties(${compiled} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${compiled} PRIVATE ${WAVELIBS_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  set_target_properties(${name} PROPERTIES
    LINKER_LANGUAGE C
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    PUBLIC_HEADER ${CMAKE_CURRENT_SOURCE_DIR}/${header})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  if(NOT WAVELIBS_SANITIZE)
    # Undefined references are errors; with sanitizers the runtime provides them at load time.
    target_link_options(${name} PRIVATE -Wl,--no-undefined -Wl,--as-needed)
  endif()
  target_link_libraries(${name} PRIVATE m)
endfunction()
