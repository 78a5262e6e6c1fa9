# Installs this build into a fresh prefix, builds examples/qt_app against the
# installed package alone, and plays a GIF with it (offscreen). Run by ctest:
#   cmake -DBUILD_DIR=... -DAPP_SOURCE=... -DWORK_DIR=... -DGIF=...
#         -DCXX=... -DCXX_FLAGS=... -DLINKER_FLAGS=... -DBUILD_TYPE=... -P install_and_run.cmake
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGV}\nfailed (${result}):\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(app_build ${WORK_DIR}/app)
file(REMOVE_RECURSE ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(expected include/flipreel/qt/flipreel_widget.h include/flipreel/host/host.h
                 lib/cmake/Flipreel/FlipreelConfig.cmake)
  if(NOT EXISTS ${prefix}/${expected})
    message(FATAL_ERROR "the installed package has no ${expected}")
  endif()
endforeach()

# The installed tool runs from the prefix.
run(${prefix}/bin/flipreel info ${GIF} --json)

run(${CMAKE_COMMAND} -S ${APP_SOURCE} -B ${app_build} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=${BUILD_TYPE} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}" -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
run(${CMAKE_COMMAND} --build ${app_build})

# Flipreel::Qt holds the core: the application links that library and no
# static library of the package, so no code of ours is in it twice.
set(link_txt ${app_build}/CMakeFiles/flipreel_qt_app.dir/link.txt)
if(EXISTS ${link_txt})
  file(READ ${link_txt} link_line)
endif()
if(link_line MATCHES "libflipreel_[a-z_]+\\.a")
  message(FATAL_ERROR "the application links a static Flipreel library:\n${link_line}")
endif()
run(nm --defined-only ${app_build}/flipreel_qt_app)
string(REGEX MATCHALL "[0-9a-f]+ [TDBR] _ZN8flipreel[^\n]*" own "${output}")
if(own)
  message(FATAL_ERROR "the application defines Flipreel's code itself:\n${own}")
endif()

run(${app_build}/flipreel_qt_app ${GIF} --check)
if(NOT output MATCHES "Flipreel 1.02.0002")
  message(FATAL_ERROR "the application did not reach the core through the library:\n${output}")
endif()
message("${output}")
file(REMOVE_RECURSE ${WORK_DIR})
