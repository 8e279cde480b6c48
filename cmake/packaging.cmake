# Debian packages of vxkernel, made in the build folder by `cpack -G DEB`:
#
#   vxkernel      the shared library and the conversion client it loads
#   vxkernel-dev  headers, CMake package, pkg-config file, the .so link
#   vxhost        the host program with its bundles, man page and unit
#
# one for each install component of the same name. The version is the
# project's (project() in CMakeLists.txt); docs/packaging.md says how to
# build, check and install them.
if(NOT VXKERNEL_INSTALL OR NOT VXKERNEL_TOP_LEVEL)
  return()
endif()

set(VXKERNEL_PACKAGE_MAINTAINER "vxkernel maintainers <maintainers@vxkernel.example.org>"
  CACHE STRING "The Maintainer line of the Debian packages")
set(vxk_debian ${PROJECT_SOURCE_DIR}/cmake/debian)

# ----- Files every package carries -------------------------------------------
# Debian wants /usr/share/doc/<package>/ with the copyright file and the
# package's changelog, gzipped; these packages are built by the project
# itself, with no Debian revision in their version (native), so the file
# is changelog.gz. The date comes from SOURCE_DATE_EPOCH when it is set,
# so that a rebuild gives the same bytes.
set(CPACK_PACKAGE_NAME vxkernel)
string(TIMESTAMP VXKERNEL_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${vxk_debian}/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9 -n -f -k ${PROJECT_BINARY_DIR}/debian/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
add_custom_target(vxkernel_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)

set(vxk_packages vxkernel vxkernel-dev)
if(VXKERNEL_BUILD_TOOLS)
  list(APPEND vxk_packages vxhost)
endif()
# The lintian findings a package keeps, each with its reason, go with it
# (docs/packaging.md lists them). These files are for the packages only: a
# plain `cmake --install` leaves them out (EXCLUDE_FROM_ALL), CPack's
# install of each component takes them.
foreach(package ${vxk_packages})
  install(FILES ${vxk_debian}/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${package} EXCLUDE_FROM_ALL)
  if(EXISTS ${vxk_debian}/${package}.lintian-overrides)
    install(FILES ${vxk_debian}/${package}.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
      RENAME ${package} COMPONENT ${package} EXCLUDE_FROM_ALL)
  endif()
endforeach()

# ----- CPack -----------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "vxkernel")
set(CPACK_PACKAGE_CONTACT ${VXKERNEL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The install rules see the real prefix (/usr), so the unit's ExecStart
# names the installed program (tools/vxhost/CMakeLists.txt).
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${vxk_packages})
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VXKERNEL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE vxkernel)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Run-time dependencies from the programs' own needs (dpkg-shlibdeps); the
# library, which dpkg-shlibdeps cannot know before it is installed, is named
# below. It is looked for in the build folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})

# vxkernel: the library under its soname (0.1: one ABI for every patch
# version), with a shlibs file so that packages built against it depend on
# it, and the ldconfig trigger.
set(CPACK_DEBIAN_VXKERNEL_PACKAGE_NAME vxkernel)
set(CPACK_DEBIAN_VXKERNEL_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs through dpkg's trigger; the no-op scripts keep CPack from
# writing ones that call it.
set(CPACK_DEBIAN_VXKERNEL_PACKAGE_CONTROL_EXTRA
  ${vxk_debian}/vxkernel/triggers ${vxk_debian}/vxkernel/postinst ${vxk_debian}/vxkernel/postrm)
# What both library packages say of the library.
set(vxk_about "vxkernel is a C++20 runtime library for Linux: tagged values with their
classes, the runtime's start-up and shut-down rings, threads, files,
message catalogues, and the services a server is made of (caches, logs,
streams, sockets, document conversion).")
set(CPACK_DEBIAN_VXKERNEL_DESCRIPTION "runtime library of the vxhost document server
${vxk_about}
.
This package holds the shared library and the document-conversion client
it loads.")

set(CPACK_DEBIAN_VXKERNEL-DEV_PACKAGE_NAME vxkernel-dev)
set(CPACK_DEBIAN_VXKERNEL-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_VXKERNEL-DEV_PACKAGE_DEPENDS "vxkernel (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_VXKERNEL-DEV_DESCRIPTION "runtime library of the vxhost document server (development files)
${vxk_about}
.
This package holds the headers, the CMake package (find_package(vxkernel))
and the pkg-config file needed to build programs against the library.")

set(CPACK_DEBIAN_VXHOST_PACKAGE_NAME vxhost)
set(CPACK_DEBIAN_VXHOST_PACKAGE_SECTION web)
set(CPACK_DEBIAN_VXHOST_PACKAGE_DEPENDS "vxkernel (= ${PROJECT_VERSION}), adduser")
set(CPACK_DEBIAN_VXHOST_PACKAGE_CONTROL_EXTRA
  ${vxk_debian}/vxhost/postinst ${vxk_debian}/vxhost/prerm ${vxk_debian}/vxhost/postrm)
set(CPACK_DEBIAN_VXHOST_DESCRIPTION "document server built on the vxkernel library
vxhost serve is a small web server for documents: upload, list, search,
preview, share and download them, with user accounts, API tokens, a JSON
API and a live event log. Several servers may share one data folder.
.
The package runs one server as the systemd unit vxhost.service, with its
data in /var/lib/vxhost, listening on 127.0.0.1:8080 until its vxhost.ini
says otherwise.")

include(CPack)
