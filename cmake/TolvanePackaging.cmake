# Debian package of what `cmake --install` installs: the shared library, the headers, the CMake
# package config and the tool. From a configured build tree:
#   cd build/release && cpack -G DEB
# gives tolvane_<version>_<arch>.deb, installing under /usr.
set(CPACK_PACKAGE_NAME "tolvane")
set(CPACK_PACKAGE_VENDOR "Tolvane developers")
set(CPACK_PACKAGE_CONTACT "Tolvane developers <tolvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Algorithms over surfel collections from intraoral scanners, and the tolvane tool")
set(CPACK_PACKAGE_DESCRIPTION "A C++17 library of filters, signed distances and calibration \
phantom analysis over surfel collections, with its headers, CMake package config \
(find_package(tolvane)) and the tolvane command-line tool.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "science")
# The run-time dependencies (the C and C++ runtimes) are read from the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Python module, when it is built, needs an interpreter with numpy.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-numpy")
include(CPack)
