# Installs this build into a fresh prefix, checks what it installed (the
# headers an application uses and no others, the versioned library, the
# Designer plugin in Qt's plugin folder, a package that needs none of Qt's
# private packages), builds two outside projects against the installed
# package alone (tests/package/headers, which compiles every installed
# header as <flipreel/...>, and examples/qt_app) and plays a GIF with the
# application (offscreen). Run by ctest:
#   cmake -DBUILD_DIR=... -DLIBDIR=lib -DAPP_SOURCE=... -DHEADERS_SOURCE=... -DWORK_DIR=... -DGIF=...
#         -DCXX=... -DCXX_FLAGS=... -DLINKER_FLAGS=... -DBUILD_TYPE=... -P install_and_run.cmake
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

set(prefix ${WORK_DIR}/prefix)
set(app_build ${WORK_DIR}/app)
file(REMOVE_RECURSE ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(libdir ${LIBDIR})
expect_installed(${prefix} include/flipreel/qt/flipreel_widget.h include/flipreel/host/host.h
                 include/flipreel/qt/property_pages.h ${libdir}/cmake/Flipreel/FlipreelConfig.cmake
                 ${libdir}/libflipreel_qt.so.1.2.0.2 ${libdir}/libflipreel_qt.so.1
                 ${libdir}/libflipreel_qt.so ${libdir}/qt6/plugins/designer/libflipreel_designer.so)
foreach(unexpected include/flipreel/qt/designer include/flipreel/qt/flipreel_widget_p.h
                   include/flipreel/cli include/flipreel/tests)
  if(EXISTS ${prefix}/${unexpected})
    message(FATAL_ERROR "the installed package holds ${unexpected}")
  endif()
endforeach()

# An application records the library's major version.
run(readelf -d ${prefix}/${libdir}/libflipreel_qt.so)
if(NOT output MATCHES "SONAME\\)[^\n]*\\[libflipreel_qt\\.so\\.1\\]")
  message(FATAL_ERROR "libflipreel_qt.so has no versioned SONAME:\n${output}")
endif()

# The package names none of Qt's private modules: only the Designer plugin,
# which is not part of it, needs them.
file(GLOB package_files ${prefix}/${libdir}/cmake/Flipreel/*.cmake)
foreach(f ${package_files})
  file(READ ${f} text)
  if(text MATCHES "Private|Qt6::Designer|Qt6::UiPlugin")
    message(FATAL_ERROR "${f} names a Qt module an application should not need")
  endif()
endforeach()

# The installed tool runs from the prefix.
run(${prefix}/bin/flipreel info ${GIF} --json)

run(${CMAKE_COMMAND} -S ${HEADERS_SOURCE} -B ${WORK_DIR}/headers -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/headers)

build_app(${APP_SOURCE} ${app_build})

# Flipreel::Qt holds the core: the application links that library and no
# static library of the package, so no code of ours is in it twice.
set(link_txt ${app_build}/CMakeFiles/flipreel_qt_app.dir/link.txt)
if(EXISTS ${link_txt})
  file(READ ${link_txt} link_line)
endif()
if(link_line MATCHES "libflipreel_[a-z_]+\\.a")
  message(FATAL_ERROR "the application links a static Flipreel library:\n${link_line}")
endif()
if(link_line MATCHES "Qt6Designer|Qt6UiPlugin")
  message(FATAL_ERROR "the application links a Designer library:\n${link_line}")
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
