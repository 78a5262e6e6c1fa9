# Installs this build into a fresh prefix and builds the example GTK player,
# a C program, outside any build system with the compiler and
# `pkg-config --cflags --libs flipreel-gtk` alone; then plays a GIF with it.
# Run by ctest on the virtual display:
#   cmake -DBUILD_DIR=... -DLIBDIR=lib -DAPP_SOURCE=.../gtk_player.c -DWORK_DIR=... -DGIF=...
#         -DCC=... -DFLAGS=... -DLINKER_FLAGS=... -P gtk_app.cmake
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(pc_path ${prefix}/${LIBDIR}/pkgconfig)
expect_installed(${prefix} ${LIBDIR}/pkgconfig/flipreel-gtk.pc)

set(ENV{PKG_CONFIG_PATH} ${pc_path})
run(pkg-config --cflags --libs flipreel-gtk)
string(STRIP "${output}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(extra UNIX_COMMAND "${FLAGS} ${LINKER_FLAGS}")
run(${CC} ${extra} ${APP_SOURCE} ${pc_flags} -o ${WORK_DIR}/gtk_player)

set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run(${WORK_DIR}/gtk_player --frames 5 ${GIF})
if(NOT output MATCHES "played [0-9]+ frames")
  message(FATAL_ERROR "the player did not play:\n${output}")
endif()
