# run(COMMAND...): runs a command of a package test and stops the test with
# its output when it fails; the output is left in `output`.
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGV}\nfailed (${result}):\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# expect_installed(prefix files...): stops the test when the prefix lacks one
# of the files.
function(expect_installed prefix)
  foreach(expected ${ARGN})
    if(NOT EXISTS ${prefix}/${expected})
      message(FATAL_ERROR "the installed package has no ${expected}")
    endif()
  endforeach()
endfunction()

# build_app(source build): configures and builds an outside project against
# the installed package alone, with this build's compiler and flags (so that
# a sanitizer build links its runtime into the application too).
function(build_app source build)
  run(${CMAKE_COMMAND} -S ${source} -B ${build} -DCMAKE_PREFIX_PATH=${prefix}
      -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=${BUILD_TYPE} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
      "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}" -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
  run(${CMAKE_COMMAND} --build ${build})
endfunction()
