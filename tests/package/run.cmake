# run(COMMAND...): runs a command of a package test and stops the test with
# its output when it fails; the output is left in `output`.
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGV}\nfailed (${result}):\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()
