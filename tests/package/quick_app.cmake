# Installs this build into a fresh prefix, checks that the QML module went
# into the prefix's QML import path, builds examples/qml_player against the
# installed package alone and plays a GIF with it (offscreen, software
# renderer): one pass with --check, and a grab of its window. Run by ctest:
#   cmake -DBUILD_DIR=... -DQML_DIR=lib/qt6/qml -DAPP_SOURCE=... -DWORK_DIR=... -DGIF=...
#         -DCXX=... -DCXX_FLAGS=... -DLINKER_FLAGS=... -DLAUNCHER=... -DBUILD_TYPE=...
#         -P quick_app.cmake
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

set(prefix ${WORK_DIR}/prefix)
set(app_build ${WORK_DIR}/app)
file(REMOVE_RECURSE ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
expect_installed(${prefix} ${QML_DIR}/Flipreel/qmldir ${QML_DIR}/Flipreel/libflipreel_quickplugin.so
                 ${QML_DIR}/Flipreel/flipreel_quick.qmltypes include/flipreel/quick/flipreel_item.h)
build_app(${APP_SOURCE} ${app_build})

run(${app_build}/flipreel_qml_player ${GIF} --check)
if(NOT output MATCHES "status 1, [0-9]+ frames")
  message(FATAL_ERROR "the player did not play the GIF:\n${output}")
endif()
message("${output}")
run(${app_build}/flipreel_qml_player ${GIF} --grab ${WORK_DIR}/player.png)
if(NOT EXISTS ${WORK_DIR}/player.png)
  message(FATAL_ERROR "the player saved no picture of its window")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
