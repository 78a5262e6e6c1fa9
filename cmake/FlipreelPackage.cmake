# The targets an application links, under the names it uses, and the
# installed package: headers under include/flipreel/, the libraries, and a
# CMake package so that find_package(Flipreel CONFIG REQUIRED) gives
#   Flipreel::Core      the control and the host interface (links nothing else)
#   Flipreel::Headless  the headless host, with the core
#   Flipreel::Qt        FlipreelWidget and the Qt host: a shared library that
#                       holds the core, whose headers it gives
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
  set_target_properties(flipreel_qt PROPERTIES EXPORT_NAME Qt)
  add_library(Flipreel::Qt ALIAS flipreel_qt)
endif()

# Installed headers include one another as applications include them
# (<flipreel/qt/flipreel_widget.h>), so only the include folder itself is on
# the path. The Qt library, which links the core only inside itself, gives
# the same folder.
foreach(target flipreel_host flipreel_qt)
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
set(flipreel_header_folders "")
get_directory_property(folders DIRECTORY ${PROJECT_SOURCE_DIR} SUBDIRECTORIES)
foreach(folder ${folders})
  cmake_path(GET folder FILENAME name)
  if(name MATCHES "^(cli|tests|bench|fuzz|examples)$")
    continue()
  endif()
  list(APPEND flipreel_header_folders ${name})
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
foreach(name ${flipreel_header_folders})
  install(DIRECTORY ${name}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/flipreel/${name}
          FILES_MATCHING PATTERN "*.h" PATTERN "*_p.h" EXCLUDE)
endforeach()

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Flipreel)
install(EXPORT FlipreelTargets NAMESPACE Flipreel:: DESTINATION ${config_dir})
configure_package_config_file(cmake/FlipreelConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/FlipreelConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/FlipreelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/FlipreelConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/FlipreelConfigVersion.cmake
        DESTINATION ${config_dir})
