# Each library gives its own headers, and only those, under the names
# applications include them by ("flipreel/<folder>/<file>.h"):
#
#   flipreel_library_headers(<target> <folder> [PRIVATE])
#
# links every header of <source>/<folder> (not of its subfolders) into
# <build>/include/<folder>/flipreel/<folder>/ and puts that include folder on
# the target's path: PUBLIC, so that what links the target sees its headers,
# or PRIVATE for a module nothing links (the Designer plugin). A file can then
# include only the folders of the targets it links: an include of any other
# folder is not found and fails the build. The target also declares the
# language standard its headers need, for itself and for what links it.
#
# Headers are linked file by file, so that a folder's subfolders (qt/designer
# in qt/) stay out of its parent's include folder. Adding or removing a
# header re-runs the configuration.
function(flipreel_library_headers target folder)
  set(scope PUBLIC)
  if(ARGC GREATER 2)
    set(scope ${ARGV2})
  endif()
  string(REPLACE "/" "_" name ${folder})
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  set(links ${root}/flipreel/${folder})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${links})
  file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  foreach(header ${headers})
    cmake_path(GET header FILENAME file)
    file(CREATE_LINK ${header} ${links}/${file} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
  target_compile_features(${target} ${scope} cxx_std_20)
endfunction()

# The tool, the tests, the benchmarks, the fuzzers and the examples include
# their own files from the source root ("tests/support/test_files.h"), but
# never a library's folder that way:
#
#   flipreel_own_folders(<target> <PUBLIC|PRIVATE> <folder>...)
#
# puts an include folder holding only the named folders on the target's path,
# so that the libraries' headers are still reached only as
# "flipreel/<folder>/..." through what the target links.
function(flipreel_own_folders target scope)
  set(root ${PROJECT_BINARY_DIR}/include/own/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(folder ${ARGN})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${root}>)
  target_compile_features(${target} ${scope} cxx_std_20)
endfunction()
