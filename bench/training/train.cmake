# Runs the instrumented interpreter on every training command line of LIST
# (bench/training/programs.txt), so that the compiler sees where the
# evaluator spends its time. Nothing is run when the interpreter and the list
# are the ones trained last; otherwise the old profile goes, the programs run
# from the source folder with no input, and the stamp records both hashes. A
# program's exit status is its result, not a failure; only a run that cannot
# start or ends by a signal stops the build.
#   cmake -DTOVE=tove -DSOURCE=folder -DLIST=file -DDATA=folder -DSTAMP=file -P train.cmake
file(SHA256 ${TOVE} tove_hash)
file(SHA256 ${LIST} list_hash)
set(hash "${tove_hash} ${list_hash}")
if(EXISTS ${STAMP})
  file(READ ${STAMP} trained)
  if(trained STREQUAL hash)
    return()
  endif()
endif()
file(REMOVE_RECURSE ${DATA})
file(STRINGS ${LIST} lines)
foreach(line IN LISTS lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  endif()
  separate_arguments(arguments UNIX_COMMAND "${line}")
  execute_process(COMMAND ${TOVE} ${arguments} WORKING_DIRECTORY ${SOURCE} INPUT_FILE /dev/null
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET TIMEOUT 300)
  if(NOT status MATCHES "^[0-9]+$")
    message(FATAL_ERROR "training run of ${line} failed: ${status}")
  endif()
endforeach()
file(WRITE ${STAMP} ${hash})
