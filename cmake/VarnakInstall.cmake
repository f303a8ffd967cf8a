# Install layout and helpers shared by every folder of the project.
#
# A program joins the installation with one line at the end of its folder's
# CMakeLists.txt:
#
#   varnak_install_program(name [SECTION n])
#
# which installs it to bin/ and a manual page to man1/ (or the section
# given: 8 for the service), made at build time
# by help2man from the program's own --help and --version (so the page never
# drifts from the program), with name.h2m beside the CMakeLists.txt as the
# help2man include file (its description and further sections). A library joins with
# varnak_install_library() and varnak_install_pkgconfig() (see decoder/).
#
# Debian package names are the install components: libmurlin0,
# libmurlin-dev, libquesmer0, libquesmer-dev, varnak.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(VARNAK_INSTALL_RPATH
       "Give installed programs a relative RPATH to the installed libraries (off for distribution packages)" ON)

# From the programs' folder to the libraries' folder of the install layout,
# e.g. ../lib or ../lib/x86_64-linux-gnu: the installed programs' RPATH and
# the run-time binding of the decoder library look there.
file(RELATIVE_PATH VARNAK_BINDIR_TO_LIBDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})

# The documentation folder is named after the package, not the project.
set(VARNAK_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/varnak)
set(VARNAK_DATADIR ${CMAKE_INSTALL_DATAROOTDIR}/varnak)

find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
if(NOT HELP2MAN)
  message(WARNING "help2man not found: the programs' manual pages are not made")
endif()

# Makes the gzip-compressed copy `output` (NAME.gz) of `source` (a manual page,
# a changelog; gzip -9n: no name, no time stamp, so the same file gives the
# same bytes, as Debian wants), built with the default target.
function(varnak_gzip source output)
  string(REGEX REPLACE "\\.gz$" "" plain ${output})
  set(commands "")
  if(NOT source STREQUAL plain)
    set(commands COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain})
  endif()
  add_custom_command(OUTPUT ${output}
    ${commands}
    COMMAND ${GZIP} -9nkf ${plain}
    DEPENDS ${source}
    VERBATIM)
  get_filename_component(name ${output} NAME)
  add_custom_target(gzip_${name} ALL DEPENDS ${output})
endfunction()

# Installs the hand-written manual page `source` (e.g. murlin.3, section from
# its name) in component `component`.
function(varnak_install_man source component)
  get_filename_component(name ${source} NAME)
  string(REGEX REPLACE ".*\\." "" section ${name})
  set(out ${CMAKE_BINARY_DIR}/man/${name}.gz)
  varnak_gzip(${source} ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()

# Installs program `target` with its manual page (component varnak).
function(varnak_install_program target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SECTION" "")
  if(NOT arg_SECTION)
    set(arg_SECTION 1)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT varnak)
  if(VARNAK_INSTALL_RPATH)
    set_property(TARGET ${target} PROPERTY INSTALL_RPATH "$ORIGIN/${VARNAK_BINDIR_TO_LIBDIR}")
  endif()
  if(NOT HELP2MAN)
    return()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${target}.${arg_SECTION})
  set(include ${CMAKE_CURRENT_SOURCE_DIR}/${target}.h2m)
  set(options --no-info --section=${arg_SECTION} --output=${page} --include=${include})
  set(depends ${target} ${include})
  # The program runs at build time: without a display, and a sanitized build
  # must not fail the page on the leaks Qt leaves at exit.
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            ${HELP2MAN} ${options} $<TARGET_FILE:${target}>
    DEPENDS ${depends}
    COMMENT "Manual page ${target}(${arg_SECTION})"
    VERBATIM)
  varnak_gzip(${page} ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${arg_SECTION} COMPONENT varnak)
endfunction()

# Installs shared library `target` as Package::target for find_package(Package
# CONFIG): the library with its SONAME link in component `runtime`, the
# development link, the headers given after HEADERS (into the include folder,
# or its subfolder SUBDIR) and the CMake package files in component `dev`.
# `dependencies` (after FIND_DEPENDENCY) are find_dependency() calls' arguments
# written into the package's config file, one call per argument.
function(varnak_install_library target package runtime dev)
  cmake_parse_arguments(PARSE_ARGV 4 arg "" "SUBDIR" "HEADERS;FIND_DEPENDENCY")
  set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  install(TARGETS ${target} EXPORT ${package}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${runtime} NAMELINK_COMPONENT ${dev}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${arg_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${arg_SUBDIR} COMPONENT ${dev})

  set(cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/${package})
  install(EXPORT ${package}Targets NAMESPACE ${package}:: DESTINATION ${cmakedir} COMPONENT ${dev})
  set(VARNAK_PACKAGE ${package})
  set(VARNAK_FIND_DEPENDENCIES "")
  foreach(dependency IN LISTS arg_FIND_DEPENDENCY)
    string(APPEND VARNAK_FIND_DEPENDENCIES "find_dependency(${dependency})\n")
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/cmake)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/PackageConfig.cmake.in
    ${out}/${package}Config.cmake INSTALL_DESTINATION ${cmakedir})
  # The library's SONAME changes with the major version, so must the package.
  write_basic_package_version_file(${out}/${package}ConfigVersion.cmake COMPATIBILITY SameMajorVersion)
  install(FILES ${out}/${package}Config.cmake ${out}/${package}ConfigVersion.cmake
    DESTINATION ${cmakedir} COMPONENT ${dev})
endfunction()

# Installs the pkg-config file made of `template` (a .pc.in file) in
# component `dev`. The file is written at install time, so that its prefix
# is the one the installation goes to (cmake --install --prefix P), not the
# one the build was configured with; @prefix@ and @PROJECT_VERSION@,
# @CMAKE_INSTALL_LIBDIR@ and @CMAKE_INSTALL_INCLUDEDIR@ are filled in.
function(varnak_install_pkgconfig template dev)
  get_filename_component(name ${template} NAME_WE)
  set(staged ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${name}.pc.in)
  set(prefix "@prefix@")  # kept for the install step
  configure_file(${template} ${staged} @ONLY)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${name}.pc)
  install(CODE "set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
configure_file(\"${staged}\" \"${out}\" @ONLY)" COMPONENT ${dev})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ${dev})
endfunction()
