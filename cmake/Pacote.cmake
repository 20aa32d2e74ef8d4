# `make deb`: a Debian package of everything installed, under the prefix the programs were
# built for, so that the installed orbelo knows itself as the installed copy.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orbelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "orbelo maintainers <maintainers@users.noreply.c-seed-3649824b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "second display for a laptop")
set(CPACK_PACKAGE_DESCRIPTION
    "orbelo turns a Linux desktop into a second display for a laptop. It finds
the sender on the local network by DNS-SD (or dials an address), proves it
holds the same six-digit pairing code through a TLS 1.2 pre-shared key, and
shows the H.264 video full-screen with the sender's mouse pointer on top.
.
orbelo-emissor is a reference sender: it serves a test pattern, a video file
or an X display the same way.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without the daemon only discovery stops; dialling an address still works.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS avahi-daemon)
include(CPack)
