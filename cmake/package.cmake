# The Debian package (`cpack -G DEB` in the build directory, or
# scripts/package.sh): what the install rules lay out, under /usr, with
# the library dependencies computed by dpkg-shlibdeps.
set(VELNOR_PACKAGE_MAINTAINER "velnor-rove developers <velnor-rove@localhost>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velnor-rove)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line client and server of an instrument registry")
set(CPACK_PACKAGE_DESCRIPTION "velnor-rove reads, writes, dumps and listens to the nodes of an instrument
application's registry, a tree of named, typed nodes served over CORBA
(omniORB), and reads its signal streams. velnor-registryd serves such a
tree from a YAML file; an example tree and a systemd unit are in
/usr/share/doc/velnor-rove/examples.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELNOR_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ncursesw is linked in (browse); the terminfo entries it reads at run time
# are ncurses-base's.
set(CPACK_DEBIAN_PACKAGE_DEPENDS ncurses-base)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
include(CPack)
