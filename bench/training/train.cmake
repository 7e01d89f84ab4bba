# Runs the instrumented interpreter on every training program, so that the
# compiler sees where the evaluator spends its time. Nothing is run when the
# interpreter is the one trained last; otherwise the old profile goes, the
# programs run, and the stamp records the interpreter's hash. A program's
# exit status is its result, not a failure; only a run that cannot start
# stops the build.
#   cmake -DTOVE=tove -DPROGRAMS=folder -DDATA=folder -DSTAMP=file -P train.cmake
file(SHA256 ${TOVE} hash)
if(EXISTS ${STAMP})
  file(READ ${STAMP} trained)
  if(trained STREQUAL hash)
    return()
  endif()
endif()
file(REMOVE_RECURSE ${DATA})
file(GLOB programs ${PROGRAMS}/*.tv)
foreach(program IN LISTS programs)
  execute_process(COMMAND ${TOVE} ${program} RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET
                  TIMEOUT 300)
  if(NOT status MATCHES "^[0-9]+$")
    message(FATAL_ERROR "training run of ${program} failed: ${status}")
  endif()
endforeach()
file(WRITE ${STAMP} ${hash})
