# Debian packages, one per install component:
#   libs   -> libkelvara0     the shared library (its SONAME is libkelvara.so.0)
#   dev    -> libkelvara-dev  headers, the .so link, the CMake package, pkg-config
#   tools  -> kelvara-tools   every program and plug-in installed with COMPONENT tools
# Build them from a build folder configured with -DCMAKE_INSTALL_PREFIX=/usr
# (so the library lands in Debian's multiarch folder) by running `cpack -G DEB`;
# scripts/test.sh package does that and checks the result.

set(KELVARA_DRIVER_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/kelvara/drivers
    CACHE STRING "Where the sample driver plug-ins are installed, below the prefix")
mark_as_advanced(KELVARA_DRIVER_INSTALL_DIR)

set(_kelvara_deb_version ${PROJECT_VERSION})
set(_kelvara_maintainer "Kelvara developers <maintainers@kelvara.invalid>")

# Each package carries its own copyright file and changelog, as Debian policy
# asks; the changelog is compressed without a time stamp so rebuilding gives
# the same bytes.
set(_kelvara_pkgdoc ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(WRITE ${_kelvara_pkgdoc}/copyright
  "Kelvara: a C++20 class library for industrial communications drivers.\n\n"
  "Copyright (C) 2026 the Kelvara developers.\n\n"
  "All rights reserved: the terms under which Kelvara may be redistributed\n"
  "have not been chosen yet.\n")
file(WRITE ${_kelvara_pkgdoc}/changelog
  "kelvara (${_kelvara_deb_version}) unstable; urgency=medium\n\n"
  "  * First packaged release: the library, its development files and the\n"
  "    tools, sample driver plug-ins and demo host.\n\n"
  " -- ${_kelvara_maintainer}  Tue, 08 Dec 2026 05:34:07 +0000\n")
find_program(KELVARA_GZIP gzip)
mark_as_advanced(KELVARA_GZIP)
if(KELVARA_GZIP)
  execute_process(COMMAND ${KELVARA_GZIP} -9nf ${_kelvara_pkgdoc}/changelog
                  RESULT_VARIABLE _kelvara_gzip_rc)
  if(NOT _kelvara_gzip_rc EQUAL 0)
    message(FATAL_ERROR "gzip of the package changelog failed")
  endif()
  foreach(_component IN ITEMS libs dev tools)
    if(_component STREQUAL "libs")
      set(_package libkelvara0)
    elseif(_component STREQUAL "dev")
      set(_package libkelvara-dev)
    else()
      set(_package kelvara-tools)
    endif()
    install(FILES ${_kelvara_pkgdoc}/copyright ${_kelvara_pkgdoc}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package} COMPONENT ${_component})
  endforeach()
endif()

set(CPACK_PACKAGE_NAME kelvara)
set(CPACK_PACKAGE_VENDOR "Kelvara developers")
set(CPACK_PACKAGE_VERSION ${_kelvara_deb_version})
set(CPACK_PACKAGE_CONTACT ${_kelvara_maintainer})
# Each package's description below starts with its own synopsis line; CPack
# puts the project summary in front of it unless the summary is CPack's
# default, so that is what it is given.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL libs dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${_kelvara_maintainer})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kelvara.invalid/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools need the library of this same build; dpkg-shlibdeps finds it here
# and the explicit dependency below names its package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_CURRENT_BINARY_DIR})

set(CPACK_DEBIAN_LIBS_PACKAGE_NAME libkelvara0)
set(CPACK_DEBIAN_LIBS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The linker cache is refreshed through dpkg's trigger, as Debian asks of a
# package with a public shared library.
file(WRITE ${_kelvara_pkgdoc}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBS_PACKAGE_CONTROL_EXTRA ${_kelvara_pkgdoc}/triggers)
string(CONCAT CPACK_DEBIAN_LIBS_DESCRIPTION
  "class library for industrial communications drivers\n"
  "Kelvara is the common base on which protocol drivers for PLCs and field\n"
  "devices are written, and through which host applications drive them:\n"
  "serial, TCP and ARCNET transports, communication blocks, the EDF address\n"
  "language, table locations, archives and the standard error codes.\n"
  "This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkelvara-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libkelvara0 (= ${_kelvara_deb_version})")
string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION
  "class library for industrial communications drivers (development files)\n"
  "Kelvara is the common base on which protocol drivers for PLCs and field\n"
  "devices are written, and through which host applications drive them.\n"
  "This package holds the headers, the CMake package (find_package(Kelvara))\n"
  "and the pkg-config file.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME kelvara-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libkelvara0 (= ${_kelvara_deb_version})")
string(CONCAT CPACK_DEBIAN_TOOLS_DESCRIPTION
  "tools, sample drivers and demo host of the Kelvara library\n"
  "edfcheck checks addresses against an EDF address format; the sample\n"
  "driver plug-ins (Modbus RTU and TCP masters, a Modbus TCP slave and an\n"
  "ARCNET polled driver) and the kelvara-demo host show the library at work.")

include(CPack)
