# Installation in five components, one per Debian package (cmake/debian.cmake): LibVELTA and
# LibTQ (the versioned libraries), Runtime (the tools, their manual pages and the guides),
# Development (headers, the unversioned library links, pkg-config files, the CMake package,
# libVELTA(3)) and Simulator (installed by simulator/). `cmake --install build --strip` installs
# them all and leaves out the debug information.
include(CMakePackageConfigHelpers)

install(TARGETS VELTA EXPORT VELTATargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT LibVELTA NAMELINK_COMPONENT Development)
install(TARGETS TQ EXPORT VELTATargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT LibTQ NAMELINK_COMPONENT Development)
install(FILES ${KV_PUBLIC_HEADERS} TQlib/include/tq_api.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velta COMPONENT Development)

# find_package(VELTA) gives VELTA::VELTA and VELTA::TQ.
set(KV_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VELTA)
install(EXPORT VELTATargets NAMESPACE VELTA:: DESTINATION ${KV_CMAKE_PACKAGE_DIR} COMPONENT Development)
configure_package_config_file(cmake/VELTAConfig.cmake.in ${CMAKE_BINARY_DIR}/VELTAConfig.cmake
  INSTALL_DESTINATION ${KV_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VELTAConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VELTAConfig.cmake ${CMAKE_BINARY_DIR}/VELTAConfigVersion.cmake
  DESTINATION ${KV_CMAKE_PACKAGE_DIR} COMPONENT Development)

# pkg-config files that find their prefix from where they are installed, so a staged or
# relocated installation works as well as the configured prefix.
file(RELATIVE_PATH KV_PC_PREFIX_FROM_PCDIR ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
foreach(pc velta velta-tq)
  configure_file(cmake/${pc}.pc.in ${CMAKE_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endforeach()

install(FILES LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)

# Removes what the last installation from this build tree put in place.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt -P ${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake)

include(cmake/debian.cmake)
