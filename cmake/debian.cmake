# Debian packages of this build tree, one per install component, with CPack's DEB generator:
# `cmake --build build --target package` (or `make package` at the top) writes them into
# <build>/packages. The split follows Debian's for libraries: a runtime package per library
# named after its SONAME, one -dev package, the tools, and the simulated bridge.
#
# Every dependency is computed. dpkg-shlibdeps finds the system's libraries through their
# packages, and this project's own libraries through the shlibs files written below (the ones
# their packages ship), so the tools and TQlib depend on "libvelta1 (>= VERSION)" as any other
# package would; only the -dev package, which holds no program, depends on its libraries through
# the component graph.
set(KV_PACKAGE_MAINTAINER "The VELTA bridge library authors <velta-maintainers@example.org>" CACHE STRING
    "Maintainer field of the Debian packages")

set(KV_DEB_DIR ${CMAKE_BINARY_DIR}/debian-packaging)
string(TIMESTAMP KV_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# A runtime library package: named after the SONAME, its shlibs file, and a directory holding
# a link to the library beside that file, where dpkg-shlibdeps finds both for the packages
# that use it.
function(kv_deb_library component target)
  set(soname lib${target}.so.${PROJECT_VERSION_MAJOR})
  string(TOLOWER lib${target}${PROJECT_VERSION_MAJOR} package)
  set(dir ${KV_DEB_DIR}/${package})
  file(WRITE ${dir}/DEBIAN/shlibs "lib${target} ${PROJECT_VERSION_MAJOR} ${package} (>= ${PROJECT_VERSION})\n")
  file(MAKE_DIRECTORY ${dir}/lib)
  file(CREATE_LINK ${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/${soname} ${dir}/lib/${soname} SYMBOLIC)
  string(TOUPPER ${component} var)
  set(CPACK_DEBIAN_${var}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_DEBIAN_${var}_PACKAGE_SECTION libs PARENT_SCOPE)
  set(CPACK_DEBIAN_${var}_PACKAGE_CONTROL_EXTRA ${dir}/DEBIAN/shlibs ${KV_DEB_DIR}/triggers
      ${KV_DEB_NO_SCRIPTS} PARENT_SCOPE)
  set(CPACK_DEBIAN_${var}_PACKAGE_CONTROL_STRICT_PERMISSION ON PARENT_SCOPE)
  list(APPEND KV_DEB_PRIVATE_DIRS ${dir}/lib)
  set(KV_DEB_PRIVATE_DIRS ${KV_DEB_PRIVATE_DIRS} PARENT_SCOPE)
endfunction()

# The libraries' packages run ldconfig through the trigger alone, as Debian's do. CPack would
# also write maintainer scripts calling it for any package with a library under /usr/lib;
# naming a postinst and a postrm that do not exist among the control files keeps it from
# that, and none is shipped.
file(WRITE ${KV_DEB_DIR}/triggers "activate-noawait ldconfig\n")
set(KV_DEB_NO_SCRIPTS ${KV_DEB_DIR}/none/postinst ${KV_DEB_DIR}/none/postrm)
set(KV_DEB_PRIVATE_DIRS)
kv_deb_library(LibVELTA VELTA)
kv_deb_library(LibTQ TQ)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvelta-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME velta)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_NAME kvzubr-sim)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_CONTROL_EXTRA ${KV_DEB_NO_SCRIPTS})
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS LibVELTA LibTQ)

set(CPACK_COMPONENT_LIBVELTA_DESCRIPTION "SPI and I2C master library for VELTA USB bridges
libVELTA drives SPI and I2C buses through the serial engine of USB bridges that
carry the VELTA engine, over the bridge maker's driver libkvzubr.so.")
set(CPACK_COMPONENT_LIBTQ_DESCRIPTION "Torqa magnetic angle sensor library over libVELTA
TQlib reads and configures Torqa angle sensors on the SPI buses of VELTA
bridges.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "development files of libVELTA and TQlib
Headers, unversioned library links, pkg-config files (velta, velta-tq), the
CMake package VELTA and the libVELTA(3) manual page.")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "console tools for VELTA bridges and Torqa sensors
velta lists bridge channels, scans and programs I2C and SPI devices (EEPROMs,
serial flash) and drives GPIO pins; tqreg, tqread and tqcmd read and write
Torqa sensor registers, record angle bursts and send sensor commands.")
set(CPACK_COMPONENT_SIMULATOR_DESCRIPTION "simulated VELTA bridge driver for tests with no hardware
A drop-in bridge driver with an engine emulator, simulated SPI and I2C devices
(serial memory, EEPROM, Torqa sensor) and waveform traces, installed apart from
the system's library directories. The kvzubr-sim launcher runs a program on
it; the example boards configure it.")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${KV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE velta)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${KV_DEB_PRIVATE_DIRS})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# What debhelper would add: copyright and changelog per package, compressed manual pages,
# no execute bit on libraries.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-stage.cmake)
set(CPACK_KV_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_KV_CHANGELOG ${KV_DEB_DIR}/changelog)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian-changelog.in ${CPACK_KV_CHANGELOG} @ONLY)
include(CPack)
