# Installation: the shared library with a versioned SONAME, every public
# header under include/mox_utils/, a CMake package (find_package(mox_utils)
# gives mox_utils::mox_utils) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS mox_utils EXPORT mox_utilsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Umbrella headers and the per-class headers they include keep their relative
# layout, so <mox_utils/cine.h> works the same installed as in the tree.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/mox_utils DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/mox_utils DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
if(EXISTS ${PROJECT_SOURCE_DIR}/src/kel_unit_convert/CValue.h)
  install(FILES ${PROJECT_SOURCE_DIR}/src/kel_unit_convert/CValue.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kel_unit_convert)
endif()

install(EXPORT mox_utilsTargets NAMESPACE mox_utils:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mox_utils)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/mox_utilsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mox_utilsConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mox_utils)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mox_utilsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mox_utilsConfig.cmake ${PROJECT_BINARY_DIR}/mox_utilsConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/mox_utils)

# The pkg-config file is relocatable: its prefix is found from where it lies.
file(RELATIVE_PATH MOX_PC_TO_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file(${PROJECT_SOURCE_DIR}/cmake/mox_utils.pc.in ${PROJECT_BINARY_DIR}/mox_utils.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mox_utils.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
