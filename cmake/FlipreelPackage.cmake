# The targets an application links, under the names it uses, and the
# installed package: the headers an application uses under include/flipreel/,
# the libraries, and a CMake package so that find_package(Flipreel CONFIG
# REQUIRED) gives
#   Flipreel::Core      the control and the host interface (links nothing else)
#   Flipreel::Headless  the headless host, with the core
#   Flipreel::Qt        FlipreelWidget and the Qt host: a shared library that
#                       holds the core, whose headers it gives
#   Flipreel::Quick     the QML module's library (the Flipreel type); the
#                       module itself is in Qt's QML import path
#   Flipreel::Gtk       libflipreel-gtk: FlipreelView and FlipreelPaintable
#                       for GTK 4, with a C interface; it holds the core (C
#                       programs use flipreel-gtk.pc instead)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

add_library(flipreel_core INTERFACE)
target_link_libraries(flipreel_core INTERFACE flipreel_control)
set_target_properties(flipreel_core PROPERTIES EXPORT_NAME Core)
add_library(Flipreel::Core ALIAS flipreel_core)

add_library(flipreel_headless_package INTERFACE)
target_link_libraries(flipreel_headless_package INTERFACE flipreel_headless flipreel_control)
set_target_properties(flipreel_headless_package PROPERTIES EXPORT_NAME Headless)
add_library(Flipreel::Headless ALIAS flipreel_headless_package)

if(TARGET flipreel_qt)
  # libflipreel_qt.so.1 -> libflipreel_qt.so.1.2.0.2: an application records
  # the major version it was built against.
  set_target_properties(flipreel_qt PROPERTIES EXPORT_NAME Qt
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  add_library(Flipreel::Qt ALIAS flipreel_qt)
endif()

# The Widgets-free part of the Qt faces, which Flipreel::Qt and
# Flipreel::Quick share: versioned like them, linked through them.
if(TARGET flipreel_qtgui)
  set_target_properties(flipreel_qtgui PROPERTIES EXPORT_NAME QtGui
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

if(TARGET flipreel_quick)
  set_target_properties(flipreel_quick PROPERTIES EXPORT_NAME Quick
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  add_library(Flipreel::Quick ALIAS flipreel_quick)
endif()

if(TARGET flipreel_gtk)
  set_target_properties(flipreel_gtk PROPERTIES EXPORT_NAME Gtk
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  add_library(Flipreel::Gtk ALIAS flipreel_gtk)
endif()

# Installed headers include one another as applications include them
# (<flipreel/qt/flipreel_widget.h>), so only the include folder itself is on
# the path. The Qt library, which links the core only inside itself, gives
# the same folder.
foreach(target flipreel_host flipreel_qtgui flipreel_qt flipreel_quick flipreel_gtk)
  if(TARGET ${target})
    target_include_directories(${target} PUBLIC
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  endif()
endforeach()

if(NOT FLIPREEL_INSTALL)
  return()
endif()

# Every library of the product's folders is installed; the folders of the
# tool, the tests, the benchmarks, the fuzzers and the examples are not.
set(flipreel_libraries flipreel_core flipreel_headless_package)
get_directory_property(folders DIRECTORY ${PROJECT_SOURCE_DIR} SUBDIRECTORIES)
foreach(folder ${folders})
  cmake_path(GET folder FILENAME name)
  if(name MATCHES "^(cli|tests|bench|fuzz|examples)$")
    continue()
  endif()
  get_directory_property(targets DIRECTORY ${folder} BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(STATIC|SHARED|INTERFACE)_LIBRARY$")
      list(APPEND flipreel_libraries ${target})
    endif()
  endforeach()
endforeach()

install(TARGETS ${flipreel_libraries} EXPORT FlipreelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The headers an application includes, and the headers of ours they include
# in turn; no other header is installed: not a face's private header (*_p.h),
# not the Designer plugin's (which need Qt's private headers), not the
# libraries' own.
set(flipreel_public_headers
  control/flipreel.h control/type_info.h
  headless/headless_host.h headless/page_site.h
  saved_form/saved_form.h
  server/component_runtime.h server/version_record.h)
file(GLOB host_headers RELATIVE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/host/*.h)
list(APPEND flipreel_public_headers ${host_headers})  # the whole host interface
if(TARGET flipreel_qt)
  list(APPEND flipreel_public_headers
    qt/flipreel_widget.h qt/property_pages.h qt/component_server.h qt/colors.h)
endif()
if(TARGET flipreel_quick)
  list(APPEND flipreel_public_headers quick/flipreel_item.h)
endif()
if(TARGET flipreel_gtk)
  list(APPEND flipreel_public_headers gtk/flipreel_view.h gtk/flipreel_paintable.h)
endif()
set(queue ${flipreel_public_headers})
set(flipreel_installed_headers "")
while(queue)
  list(POP_FRONT queue header)
  if(header IN_LIST flipreel_installed_headers)
    continue()
  endif()
  if(header MATCHES "_p\\.h$|^qt/designer/")
    message(FATAL_ERROR "an installed header includes ${header}, which is not installed")
  endif()
  list(APPEND flipreel_installed_headers ${header})
  file(STRINGS ${PROJECT_SOURCE_DIR}/${header} includes REGEX "^#include [<\"]flipreel/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include [<\"]flipreel/([^>\"]+)[>\"].*" "\\1" included "${line}")
    list(APPEND queue ${included})
  endforeach()
endwhile()
foreach(header ${flipreel_installed_headers})
  cmake_path(GET header PARENT_PATH folder)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/flipreel/${folder})
endforeach()

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Flipreel)
install(EXPORT FlipreelTargets NAMESPACE Flipreel:: DESTINATION ${config_dir})
configure_package_config_file(cmake/FlipreelConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/FlipreelConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/FlipreelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/FlipreelConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/FlipreelConfigVersion.cmake
        DESTINATION ${config_dir})
