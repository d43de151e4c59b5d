# What `cmake --install` puts where, and the Debian packages `cpack -G DEB` makes of it:
#   graybmp        the tool and its manual page
#   libgraybmp1    the shared library
#   libgraybmp-dev the header, the static library, graybmp.pc and the CMake package
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(GRAYBMP_MAINTAINER "graybmp developers <graybmp@example.org>")
set(pkg ${CMAKE_BINARY_DIR}/pkg)

# Compressed manual page and changelog, and the copyright file Debian wants in every package.
find_program(GZIP_PROGRAM gzip)
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${pkg}/graybmp.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pkg}
    COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/docs/graybmp.1 > ${pkg}/graybmp.1.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/graybmp.1)
  string(TIMESTAMP GRAYBMP_CHANGELOG_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.in ${pkg}/changelog @ONLY)
  add_custom_command(OUTPUT ${pkg}/changelog.gz
    COMMAND ${GZIP_PROGRAM} -9nc ${pkg}/changelog > ${pkg}/changelog.gz
    DEPENDS ${pkg}/changelog)
  add_custom_target(graybmp_docs ALL DEPENDS ${pkg}/graybmp.1.gz ${pkg}/changelog.gz)
  install(FILES ${pkg}/graybmp.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
else()
  install(FILES docs/graybmp.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/copyright.in ${pkg}/copyright @ONLY)

install(TARGETS graybmp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(TARGETS graybmp_shared EXPORT graybmpTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(TARGETS graybmp_static EXPORT graybmpTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES include/graybmp.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

# find_package(graybmp): graybmp::graybmp (shared) and graybmp::graybmp_static.
set(cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/graybmp)
install(EXPORT graybmpTargets NAMESPACE graybmp:: DESTINATION ${cmakedir} COMPONENT dev)
configure_package_config_file(cmake/graybmpConfig.cmake.in ${pkg}/graybmpConfig.cmake
  INSTALL_DESTINATION ${cmakedir})
write_basic_package_version_file(${pkg}/graybmpConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${pkg}/graybmpConfig.cmake ${pkg}/graybmpConfigVersion.cmake
  DESTINATION ${cmakedir} COMPONENT dev)

# pkg-config graybmp; --static adds what the C++ inside the static library needs.
file(RELATIVE_PATH GRAYBMP_PC_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" GRAYBMP_PC_PREFIX "${GRAYBMP_PC_PREFIX}")
configure_file(cmake/graybmp.pc.in ${pkg}/graybmp.pc @ONLY)
install(FILES ${pkg}/graybmp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

set(GRAYBMP_DOC_PACKAGES tool:graybmp runtime:libgraybmp1 dev:libgraybmp-dev)
if(GRAYBMP_WITH_PYTHON)
  list(APPEND GRAYBMP_DOC_PACKAGES python:python3-graybmp)
endif()
foreach(pair IN LISTS GRAYBMP_DOC_PACKAGES)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 name)
  install(FILES ${pkg}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name} COMPONENT ${component})
  if(GZIP_PROGRAM)
    install(FILES ${pkg}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name}
      COMPONENT ${component})
  endif()
endforeach()

set(CPACK_PACKAGE_NAME graybmp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "graybmp developers")
set(CPACK_PACKAGE_CONTACT ${GRAYBMP_MAINTAINER})
# Each package has its own synopsis, the first line of its description: no common summary.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool runtime dev)
if(GRAYBMP_WITH_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME graybmp)
set(CPACK_DEBIAN_TOOL_DESCRIPTION
 "turns BMP images gray, changing nothing in them but their colours
graybmp writes the gray copy of a BMP image: every header byte is kept, the
file keeps its own encoding (depth, compression, masks, padding), and only
the colours change, by one of eleven exact methods (the unweighted mean,
BT.601 or BT.709 luma, linear-light luminance, weights of one's own, ...). It converts every palettized and true-colour kind,
files, folders and pipes, and can write true colour as compact 8-bit gray.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libgraybmp1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The loader's cache is refreshed by dpkg's ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/triggers)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
 "library that turns BMP images gray, changing nothing but their colours
libgraybmp writes the gray copy of a BMP image, memory to memory, in place,
through read and write callbacks or from file to file, keeping every header
byte and the file's own encoding. This package holds the shared library.")
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libgraybmp-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The picture decoders' packages: -dev ones for the static library and graybmp.pc's
# Requires.private, and the libraries for the Python module, which links them (the shared
# library's and the tool's come from their shlibs).
set(graybmp_dev_depends "libgraybmp1 (= ${PROJECT_VERSION})")
set(graybmp_python_depends "python3 (>= 3.11), python3 (<< 3.12), libc6 (>= 2.36)")
foreach(pair "SPNG;libspng-dev;libspng0" "JPEG;libjpeg62-turbo-dev | libjpeg-dev;libjpeg62-turbo | libjpeg62"
             "WEBP;libwebp-dev;libwebp7, libwebpdemux2" "GIF;libgif-dev;libgif7")
  list(GET pair 0 name)
  list(GET pair 1 dev)
  list(GET pair 2 runtime)
  if("GRAYBMP_HAS_${name}=1" IN_LIST GRAYBMP_PICTURE_DEFINES)
    string(APPEND graybmp_dev_depends ", ${dev}")
    string(APPEND graybmp_python_depends ", ${runtime}")
  endif()
endforeach()
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${graybmp_dev_depends}")
set(CPACK_DEBIAN_DEV_DESCRIPTION
 "library that turns BMP images gray - development files
libgraybmp writes the gray copy of a BMP image, memory to memory, in place,
through read and write callbacks or from file to file, keeping every header
byte and the file's own encoding. This package holds the header, the static
library, the pkg-config file and the CMake package.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-graybmp)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${graybmp_python_depends}")
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
  "Python module that turns BMP images gray, changing nothing but their colours
import graybmp: the gray copy of a BMP image from any buffer, in place, or from
file to file, by the graybmp library with the GIL let go; every header byte
and the file's own encoding are kept.")
include(CPack)
