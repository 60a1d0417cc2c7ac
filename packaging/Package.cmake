# Debian package of the programs: `cpack -G DEB` in a build directory (see
# scripts/package). Dependencies come from the libraries the programs link,
# through dpkg-shlibdeps, not from a hand-written list.

set(BEACONRY_MAINTAINER "Beaconry developers <maintainers@beaconry.example.org>")

# Manual pages: the version goes in from the build, then gzip -n so that
# the package does not change with the time it was built (-k: the page
# stays, or the next build would miss its input).
set(BEACONRY_PROGRAMS ${BEACONRY_TOOLS})
foreach(program beaconry beaconry-console)
  if(TARGET ${program})
    list(APPEND BEACONRY_PROGRAMS ${program})
  endif()
endforeach()
set(man_pages)
foreach(program ${BEACONRY_PROGRAMS})
  set(page ${PROJECT_SOURCE_DIR}/docs/man/${program}.1)
  if(NOT EXISTS ${page})
    message(FATAL_ERROR "${program} is installed but has no manual page ${page}")
  endif()
  configure_file(${page} ${PROJECT_BINARY_DIR}/man/${program}.1 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${program}.1.gz
                     COMMAND gzip -9nfk ${program}.1
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${program}.1 ${page}
                     WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/man)
  list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${PROJECT_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
                   COMMAND gzip -9nfk changelog
                   DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog ${CMAKE_CURRENT_LIST_DIR}/changelog.in
                   WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/doc)
add_custom_target(package-docs ALL DEPENDS ${man_pages} ${PROJECT_BINARY_DIR}/doc/changelog.gz)

install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PROJECT_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/beaconry)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME beaconry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${BEACONRY_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "list the UPnP media servers and renderers of the network")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BEACONRY_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://beaconry.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack puts the summary above this as the synopsis line
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Beaconry finds the UPnP media servers and media renderers on the local
network and shows what each one is: its friendly name, UUID, device type,
manufacturer and model description. It searches with SSDP multicast and
reads the devices' descriptions over HTTP.
.
The package holds the window (beaconry), a console that browses media
servers and drives media renderers (beaconry-console) and small tools over
its own UPnP engine: cvd-discover, cvd-describe and cvd-light for SSDP,
descriptions and a test device, hly-fetch, hly-xml and hly-serve for HTTP
and XML.")
include(CPack)
