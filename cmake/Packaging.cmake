# Installation and packages.
#
#   cmake --install <build> --prefix <p>     installs into <p>:
#     lib/libzorvan_db2acs.so                       the library DB2 loads
#     bin/acs-host, bin/acs-doctor                  the tools
#     lib/zorvan-db2acs/examples/libqxacsint.so     the reference back end
#     share/doc/zorvan-db2acs/                      README.md and docs/*.md
#   cpack --config <build>/CPackConfig.cmake   builds the same tree as a
#     .tar.gz (relative paths) and a .deb (under /opt/zorvan-db2acs).
#
# The library keeps its RUNPATH ($ORIGIN:$ORIGIN/../Base64) when installed.
# Targets that are not built (ZORVAN_BUILD_TOOLS=OFF) are left out.

set(ZORVAN_INSTALL_LIBDIR "lib" CACHE STRING
    "Directory below the prefix for the library and the example back end")
set(ZORVAN_DEB_PREFIX "/opt/zorvan-db2acs" CACHE STRING
    "Where the .deb installs the tree")
set(ZORVAN_PACKAGE_MAINTAINER "zorvan-db2acs maintainers <maintainers@zorvan-db2acs.example>"
    CACHE STRING "Maintainer named in the packages")
# The tools are C++ programs; the library itself needs only libc6.
set(ZORVAN_DEB_DEPENDS "libc6, libstdc++6, libgcc-s1" CACHE STRING
    "Depends: line of the .deb")

set(ZORVAN_DOC_DIR "share/doc/zorvan-db2acs")
set(ZORVAN_EXAMPLE_DIR "${ZORVAN_INSTALL_LIBDIR}/zorvan-db2acs/examples")

install(TARGETS zorvan_db2acs
        LIBRARY DESTINATION "${ZORVAN_INSTALL_LIBDIR}")
foreach(tool acs-host acs-doctor)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  endif()
endforeach()
if(TARGET qxacsint_example)
  # The library insists on an executable back end: keep the execute bits.
  install(TARGETS qxacsint_example
          LIBRARY DESTINATION "${ZORVAN_EXAMPLE_DIR}"
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${ZORVAN_DOC_DIR}")
# Operators' documents only: the benchmark figures are for developers.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/docs/" DESTINATION "${ZORVAN_DOC_DIR}"
        FILES_MATCHING PATTERN "*.md" PATTERN "benchmarks.md" EXCLUDE)

set(CPACK_PACKAGE_NAME "zorvan-db2acs")
set(CPACK_PACKAGE_VENDOR "zorvan-db2acs")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${ZORVAN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "DB2 ACS snapshot library that forwards to the backup product's back end")
set(CPACK_PACKAGE_DESCRIPTION
    "libzorvan_db2acs.so is loaded by a DB2 server as its ACS vendor library for snapshot "
    "backups, restores and deletes. It finds the backup product's installation through its "
    "registry, loads the product's back end libqxacsint.so and forwards every ACS call to it. "
    "Includes acs-doctor, which explains the installation discovery, acs-host, which drives "
    "the library through DB2's call sequences, and a reference back end.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR "TGZ;DEB")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZORVAN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${ZORVAN_DEB_DEPENDS}")
set(CPACK_DEBIAN_PACKAGE_SECTION "database")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

# The .deb installs under a prefix of its own; the tarball stays relative.
set(ZORVAN_CPACK_PER_GENERATOR "${PROJECT_BINARY_DIR}/CPackPerGenerator.cmake")
file(WRITE "${ZORVAN_CPACK_PER_GENERATOR}"
     "if(CPACK_GENERATOR STREQUAL \"DEB\")\n"
     "  set(CPACK_PACKAGING_INSTALL_PREFIX \"${ZORVAN_DEB_PREFIX}\")\n"
     "endif()\n")
set(CPACK_PROJECT_CONFIG_FILE "${ZORVAN_CPACK_PER_GENERATOR}")

include(CPack)
