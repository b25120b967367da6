# Installation and packages: one tree, three packages.
#
#   cmake --install <build> --prefix <p>     installs the tree into <p>:
#     bin/acs-host, bin/acs-doctor                  the tools
#     lib/libzorvan_db2acs.so                       the library DB2 loads
#     lib/zorvan-db2acs/examples/libqxacsint.so     the reference back end
#     share/doc/zorvan-db2acs/                      README.md, operator-guide.md
#     share/man/man1, share/man/man7                the manual pages
#   cpack --config <build>/CPackConfig.cmake   makes, named with version and
#     architecture:
#     .tar.gz   the same tree, relocatable, below one top directory;
#     .deb .rpm the tree below /opt/zorvan-db2acs, with what a system
#               package adds around it: /usr/bin links to the tools, the
#               manual pages in /usr/share/man, and the copyright and
#               changelog in /usr/share/doc/zorvan-db2acs.
#
# The library keeps its RUNPATH ($ORIGIN:$ORIGIN/../Base64) when installed.
# Targets that are not built (ZORVAN_BUILD_TOOLS=OFF) are left out.
#
# Install components: "tree" (the relocatable tree but for the manual),
# "manual" (the manual inside the tree, for the tarball and cmake
# --install), "system" and "lintian" (what the .deb and .rpm add outside
# the tree; never installed by a plain cmake --install).

set(ZORVAN_INSTALL_LIBDIR "lib" CACHE STRING
    "Directory below the prefix for the library and the example back end")
set(ZORVAN_SYSTEM_PREFIX "/opt/zorvan-db2acs" CACHE STRING
    "Where the .deb and .rpm install the tree")
set(ZORVAN_PACKAGE_MAINTAINER "zorvan-db2acs maintainers <maintainers@zorvan-db2acs.example>"
    CACHE STRING "Maintainer named in the packages")
set(ZORVAN_LICENSE "Proprietary" CACHE STRING "License named in the packages")

set(ZORVAN_PACKAGE zorvan-db2acs)
set(ZORVAN_DOC_DIR "share/doc/${ZORVAN_PACKAGE}")
set(ZORVAN_EXAMPLE_DIR "${ZORVAN_INSTALL_LIBDIR}/${ZORVAN_PACKAGE}/examples")
set(ZORVAN_PACKAGING_SOURCE "${PROJECT_SOURCE_DIR}/packaging")
set(ZORVAN_PACKAGING_BINARY "${PROJECT_BINARY_DIR}/packaging")

# Package architecture names, RPM's and Debian's, for the target.
set(_zorvan_arch_table
    "x86_64:x86_64:amd64" "AMD64:x86_64:amd64" "ppc64le:ppc64le:ppc64el"
    "ppc64:ppc64:ppc64" "s390x:s390x:s390x" "aarch64:aarch64:arm64" "arm64:aarch64:arm64")
set(ZORVAN_RPM_ARCH "${CMAKE_SYSTEM_PROCESSOR}")
set(ZORVAN_DEB_ARCH "${CMAKE_SYSTEM_PROCESSOR}")
foreach(row IN LISTS _zorvan_arch_table)
  string(REPLACE ":" ";" row "${row}")
  list(GET row 0 processor)
  if(processor STREQUAL CMAKE_SYSTEM_PROCESSOR)
    list(GET row 1 ZORVAN_RPM_ARCH)
    list(GET row 2 ZORVAN_DEB_ARCH)
  endif()
endforeach()

# --- the tree ---------------------------------------------------------------
install(TARGETS zorvan_db2acs
        LIBRARY DESTINATION "${ZORVAN_INSTALL_LIBDIR}" COMPONENT tree)
foreach(tool acs-host acs-doctor)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT tree)
  endif()
endforeach()
if(TARGET qxacsint_example)
  # The library insists on an executable back end: keep the execute bits.
  install(TARGETS qxacsint_example
          LIBRARY DESTINATION "${ZORVAN_EXAMPLE_DIR}" COMPONENT tree
          PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
# Operators' documents only; the developers' (benchmarks) stay in the source.
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/docs/operator-guide.md"
        DESTINATION "${ZORVAN_DOC_DIR}" COMPONENT tree)

# --- the manual: each page written once, compressed once ----------------------
set(ZORVAN_MAN_PAGES acs-doctor.1 acs-host.1 libzorvan_db2acs.7)
set(_zorvan_man_gz)
set(ZORVAN_SYSTEM_FILES)
foreach(page IN LISTS ZORVAN_MAN_PAGES)
  # The page with the project's version filled in, then compressed (-n: no
  # name or time stamp inside, so the package is reproducible).
  set(filled "${ZORVAN_PACKAGING_BINARY}/man/${page}")
  configure_file("${PROJECT_SOURCE_DIR}/docs/man/${page}" "${filled}" @ONLY)
  set(gz "${filled}.gz")
  add_custom_command(OUTPUT "${gz}"
    COMMAND gzip -9nc "${filled}" > "${gz}"
    DEPENDS "${filled}" VERBATIM)
  list(APPEND _zorvan_man_gz "${gz}")
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section "${page}")
  install(FILES "${gz}" DESTINATION "share/man/man${section}" COMPONENT manual)
  install(FILES "${gz}" DESTINATION "/usr/share/man/man${section}" COMPONENT system
          EXCLUDE_FROM_ALL)
  list(APPEND ZORVAN_SYSTEM_FILES "%doc /usr/share/man/man${section}/${page}.gz")
endforeach()
add_custom_target(zorvan_manual ALL DEPENDS ${_zorvan_man_gz})

# --- what a system package adds around the tree -------------------------------
# The tools on PATH, as vendor packages under /opt do it: links in /usr/bin.
foreach(tool acs-host acs-doctor)
  if(TARGET ${tool})
    set(link "${ZORVAN_PACKAGING_BINARY}/usr-bin/${tool}")
    file(MAKE_DIRECTORY "${ZORVAN_PACKAGING_BINARY}/usr-bin")
    file(CREATE_LINK "${ZORVAN_SYSTEM_PREFIX}/bin/${tool}" "${link}" SYMBOLIC)
    install(FILES "${link}" DESTINATION /usr/bin COMPONENT system EXCLUDE_FROM_ALL)
    list(APPEND ZORVAN_SYSTEM_FILES "%attr(-,root,root) /usr/bin/${tool}")
  endif()
endforeach()

# The changelog, kept once (packaging/changelog, Debian's format) and
# given to the .rpm in RPM's.
file(READ "${ZORVAN_PACKAGING_SOURCE}/changelog" _zorvan_changelog)
set(_zorvan_debian_changelog_gz "${ZORVAN_PACKAGING_BINARY}/changelog.gz")
add_custom_command(OUTPUT "${_zorvan_debian_changelog_gz}"
  COMMAND gzip -9nc "${ZORVAN_PACKAGING_SOURCE}/changelog" > "${_zorvan_debian_changelog_gz}"
  DEPENDS "${ZORVAN_PACKAGING_SOURCE}/changelog" VERBATIM)
add_custom_target(zorvan_changelog ALL DEPENDS "${_zorvan_debian_changelog_gz}")
include("${PROJECT_SOURCE_DIR}/cmake/RpmChangelog.cmake")
set(CPACK_RPM_PACKAGE_RELEASE 1)
zorvan_rpm_changelog("${ZORVAN_PACKAGING_SOURCE}/changelog" "${CPACK_RPM_PACKAGE_RELEASE}"
                     "${ZORVAN_PACKAGING_BINARY}/rpm-changelog")

install(FILES "${ZORVAN_PACKAGING_SOURCE}/copyright" "${_zorvan_debian_changelog_gz}"
        DESTINATION "/usr/share/doc/${ZORVAN_PACKAGE}" COMPONENT system EXCLUDE_FROM_ALL)
list(APPEND ZORVAN_SYSTEM_FILES "%doc /usr/share/doc/${ZORVAN_PACKAGE}/changelog.gz"
                                "%license /usr/share/doc/${ZORVAN_PACKAGE}/copyright")
install(FILES "${ZORVAN_PACKAGING_SOURCE}/lintian-overrides"
        DESTINATION /usr/share/lintian/overrides RENAME "${ZORVAN_PACKAGE}"
        COMPONENT lintian EXCLUDE_FROM_ALL)

# --- CPack ----------------------------------------------------------------------
set(CPACK_PACKAGE_NAME "${ZORVAN_PACKAGE}")
set(CPACK_PACKAGE_VENDOR "${ZORVAN_PACKAGE}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${ZORVAN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "DB2 ACS snapshot library that forwards to the backup product's back end")
# The long description, kept once and wrapped as both package formats
# want it. Read here, not named as CPACK_PACKAGE_DESCRIPTION_FILE, which
# CPack escapes for XML (an apostrophe would reach the .deb as &apos;).
file(READ "${ZORVAN_PACKAGING_SOURCE}/description" CPACK_PACKAGE_DESCRIPTION)
string(STRIP "${CPACK_PACKAGE_DESCRIPTION}" CPACK_PACKAGE_DESCRIPTION)
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR "TGZ;DEB;RPM")
set(CPACK_SYSTEM_NAME "${ZORVAN_RPM_ARCH}")
set(CPACK_STRIP_FILES TRUE)
# One package per generator, holding the components each one names.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_RPM_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${ZORVAN_DEB_ARCH}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZORVAN_PACKAGE_MAINTAINER}")
# The library needs the C library alone; the tools carry their C++ runtime.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.17)")
set(CPACK_DEBIAN_PACKAGE_SECTION "database")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_ARCHITECTURE "${ZORVAN_RPM_ARCH}")
set(CPACK_RPM_PACKAGE_LICENSE "${ZORVAN_LICENSE}")
set(CPACK_RPM_PACKAGE_GROUP "Applications/Databases")
set(CPACK_RPM_PACKAGE_URL "https://zorvan-db2acs.example/")
set(CPACK_RPM_CHANGELOG_FILE "${ZORVAN_PACKAGING_BINARY}/rpm-changelog")
# The package owns its tree, not the system's directories around it.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /opt /usr/share/man /usr/share/man/man1 /usr/share/man/man7)
# Files are stripped by CPack with the target's own tools; rpmbuild's
# post-install steps would run the build machine's, which cannot read
# another architecture's files. The manual pages come compressed. What
# runs in their place gives every file the time SOURCE_DATE_EPOCH when it
# is set (release.sh): rpmbuild would only clamp later times to it, and
# keep a checkout's older ones, which differ from clone to clone. (No
# quotes: CPack does not pass them through intact; the words hold no
# spaces.)
set(CPACK_RPM_SPEC_INSTALL_POST
    "[ -z $SOURCE_DATE_EPOCH ] || find $RPM_BUILD_ROOT -exec touch -h -d @$SOURCE_DATE_EPOCH {} +")
# No debuginfo package and no /usr/lib/.build-id links: the tree is all.
# Reproducible where SOURCE_DATE_EPOCH is set (release.sh): build time
# and file times from it, and a fixed build host.
set(CPACK_RPM_SPEC_MORE_DEFINE
    "%define debug_package %{nil}\n%define _build_id_links none\n%define packager ${ZORVAN_PACKAGE_MAINTAINER}
%define use_source_date_epoch_as_buildtime 1\n%define clamp_mtime_to_source_date_epoch 1
%define _buildhost ${ZORVAN_PACKAGE}-build")
# Files outside the tree are ordinary files of the package, not the
# configuration files CPack takes absolute destinations for. (Each entry
# carries an attribute: CPack cannot parse one without.)
set(CPACK_RPM_USER_FILELIST ${ZORVAN_SYSTEM_FILES})

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/dist/")

# The system packages install the tree under a prefix of their own and add
# what lies around it; the tarball stays relative.
set(ZORVAN_CPACK_PER_GENERATOR "${PROJECT_BINARY_DIR}/CPackPerGenerator.cmake")
file(WRITE "${ZORVAN_CPACK_PER_GENERATOR}"
     "if(CPACK_GENERATOR STREQUAL \"DEB\")\n"
     "  set(CPACK_PACKAGING_INSTALL_PREFIX \"${ZORVAN_SYSTEM_PREFIX}\")\n"
     "  set(CPACK_COMPONENTS_ALL tree system lintian)\n"
     "elseif(CPACK_GENERATOR STREQUAL \"RPM\")\n"
     "  set(CPACK_PACKAGING_INSTALL_PREFIX \"${ZORVAN_SYSTEM_PREFIX}\")\n"
     "  set(CPACK_COMPONENTS_ALL tree system)\n"
     "else()\n"
     "  set(CPACK_COMPONENTS_ALL tree manual)\n"
     "  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)\n"
     "endif()\n")
set(CPACK_PROJECT_CONFIG_FILE "${ZORVAN_CPACK_PER_GENERATOR}")

include(CPack)
