# Installation: the libraries (libmseedio when it is built), their headers, a CMake package
# (find_package(wavelibs)) and one pkg-config file per library, all with paths relative to the
# install prefix.
include(CMakePackageConfigHelpers)

set(WAVELIBS_INSTALLED wavecodec ibmfloat)
if(TARGET mseedio)
  list(APPEND WAVELIBS_INSTALLED mseedio)
endif()
install(TARGETS ${WAVELIBS_INSTALLED} EXPORT wavelibsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT wavelibsTargets NAMESPACE wavelibs::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/wavelibs)

configure_package_config_file(cmake/wavelibsConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/wavelibsConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/wavelibs)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/wavelibsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/wavelibsConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/wavelibsConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/wavelibs)

# The .pc files find the prefix from their own place, so an installed tree can be moved.
file(RELATIVE_PATH WAVELIBS_PC_UP "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" WAVELIBS_PC_UP "${WAVELIBS_PC_UP}")
foreach(lib ${WAVELIBS_INSTALLED})
  configure_file(cmake/${lib}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${lib}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${lib}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
