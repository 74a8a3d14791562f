# Runs qkxdr once, or twice with the first run's output as the second's input,
# and checks the exit status, the output and the messages.
#   -DTOOL=<qkxdr> [-DEMULATOR=<runner>] -DDIR=<inputs> -DOUT=<output file>
#   -DARGS=<a|b|...> [-DTHEN=<a|b|...>] [-DSTDIN=<file> | -DSTDIN_TEXT=<text>]
#   -DEXIT=<status> [-DSTDOUT=<golden file>] [-DSTDERR=<regex>]
# Arguments are separated by "|"; ARGS and THEN run in DIR.

function(run args input output)
  string(REPLACE "|" ";" args "${args}")
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${args}
    WORKING_DIRECTORY ${DIR}
    INPUT_FILE ${input}
    OUTPUT_FILE ${output}
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  set(status ${status} PARENT_SCOPE)
  set(messages "${messages}${err}" PARENT_SCOPE)
endfunction()

set(input ${STDIN})
if(NOT STDIN_TEXT STREQUAL "")
  set(input ${OUT}.in)
  file(WRITE ${input} "${STDIN_TEXT}")
elseif(NOT input)
  set(input ${OUT}.in)  # empty: never a terminal
  file(WRITE ${input} "")
endif()

if(THEN)
  run("${ARGS}" ${input} ${OUT}.first)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "first run exited ${status}:\n${messages}")
  endif()
  run("${THEN}" ${OUT}.first ${OUT})
else()
  run("${ARGS}" ${input} ${OUT})
endif()

if(NOT status EQUAL EXIT)
  message(FATAL_ERROR "exit status ${status}, expected ${EXIT}; messages:\n${messages}")
endif()
if(STDERR AND NOT messages MATCHES "${STDERR}")
  message(FATAL_ERROR "messages do not match '${STDERR}':\n${messages}")
endif()
if(STDOUT)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${DIR}/${STDOUT} RESULT_VARIABLE differ)
  if(differ)
    file(READ ${OUT} got)
    message(FATAL_ERROR "output differs from ${STDOUT}; got:\n${got}")
  endif()
endif()
