# Installation and the Debian packages, built by CPack from three install components:
#   program      -> ornavel: the program, ornavel-debug, menu entry, icon, metainfo, man pages
#   library      -> libornavel-debug0: the shared library alone
#   development  -> libornavel-debug-dev: its header and the link to build against
include(GNUInstallDirs)

set(ORNAVEL_HOMEPAGE "https://ornavel.example" CACHE STRING
    "The project's home page, named in the package and the metainfo")

set(components program library development)
set(packages ornavel libornavel-debug0 libornavel-debug-dev)

# The changelog's newest entry is the packages' version: a new version needs its entry first.
file(STRINGS data/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^ornavel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "data/debian/changelog starts with '${changelog_head}', "
                      "not with an entry for version ${PROJECT_VERSION}")
endif()

# Debian wants man pages and changelogs compressed by gzip -9n: no name or time stamp inside.
set(compressed)
function(ornavel_gzip source output)
  add_custom_command(OUTPUT ${output}
                     COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${source} ${output}
                     DEPENDS ${source} VERBATIM)
  set(compressed ${compressed} ${output} PARENT_SCOPE)
endfunction()

foreach(page ornavel.1 ornavel-debug.1)
  configure_file(data/${page} ${PROJECT_BINARY_DIR}/data/${page} @ONLY)
  ornavel_gzip(${PROJECT_BINARY_DIR}/data/${page} ${PROJECT_BINARY_DIR}/data/${page}.gz)
  install(FILES ${PROJECT_BINARY_DIR}/data/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT program)
endforeach()
ornavel_gzip(${PROJECT_SOURCE_DIR}/data/debian/changelog ${PROJECT_BINARY_DIR}/data/changelog.gz)
add_custom_target(ornavel_compressed ALL DEPENDS ${compressed})

# Every package carries the copyright and changelog in its own documentation folder.
foreach(component package IN ZIP_LISTS components packages)
  install(FILES data/debian/copyright ${PROJECT_BINARY_DIR}/data/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  string(TOUPPER ${component} component)
  set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${package})
endforeach()

install(TARGETS ornavel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
if(ORNAVEL_GUI)
  configure_file(data/org.ornavel.Ornavel.metainfo.xml.in
                 ${PROJECT_BINARY_DIR}/data/org.ornavel.Ornavel.metainfo.xml @ONLY)
  install(FILES data/ornavel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT program)
  install(FILES data/ornavel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          COMPONENT program)
  install(FILES ${PROJECT_BINARY_DIR}/data/org.ornavel.Ornavel.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT program)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${components})
set(CPACK_PACKAGE_NAME ornavel)
set(CPACK_PACKAGE_VENDOR "The Ornavel developers")
set(CPACK_PACKAGE_CONTACT "The Ornavel developers <ornavel@ornavel.example>")
set(CPACK_DEBIAN_PACKAGE_SOURCE ornavel)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ORNAVEL_HOMEPAGE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # <package>_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

# Empty, not unset: else CPack puts the project's description before each package's synopsis.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
# The first line is the synopsis, the rest the extended description: at most 80 columns each.
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION [[follow logs through your rules in one small window
Ornavel follows text files that other programs append to, receives syslog over
UDP, follows the systemd journal and takes local programs' debug output. Every
line passes an ordered list of rules, and the kept lines are shown, newest
last, in one narrow window or printed in console mode.
The command ornavel-debug sends debug output from scripts and pipelines.]])
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SHLIBDEPS ON) # dependencies from the binaries, not listed by hand
# Qt's Wayland plugin is loaded, not linked: the window natively on Wayland without XWayland.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_RECOMMENDS qt6-wayland)

set(library_description [[
The library sends debug output to a running Ornavel with one call from C or
C++, or from a script through its foreign-function interface. It is plain C
and needs nothing but the C library.]])
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "library to send debug output to Ornavel
${library_description}
.
This package contains the shared library.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# CPack's own dependency scan would also add maintainer scripts that call ldconfig, which Debian
# replaced by the trigger below: the dependencies come from OrnavelPackageDepends.cmake instead.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS OFF)
configure_file(data/debian/shlibs.in ${PROJECT_BINARY_DIR}/data/debian/shlibs @ONLY)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/data/debian/shlibs ${PROJECT_SOURCE_DIR}/data/debian/symbols
    ${PROJECT_SOURCE_DIR}/data/debian/triggers)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/OrnavelPackageDepends.cmake
     INPUT ${PROJECT_SOURCE_DIR}/cmake/OrnavelPackageDepends.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/OrnavelPackageDepends.cmake)

set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "library to send debug output to Ornavel (development)
${library_description}
.
This package contains the header ornavel-debug.h and the link to build against
the library with -lornavel-debug.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libornavel-debug0 (= ${PROJECT_VERSION})")
include(CPack)
