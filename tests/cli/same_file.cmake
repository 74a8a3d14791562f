# Runs qkxdr with its output file (-o) naming its input file in each way a
# path can reach it: the same path, through "./", a hard link, a symbolic
# link, and the file sent to standard input. Every run must be refused with
# exit status 2 before anything is written, the input left as it was.
#   -DTOOL=<qkxdr> [-DEMULATOR=<runner>] -DINPUT=<file> -DWORK=<directory>
#   -DARGS=<a|b|...>
string(REPLACE "|" ";" args "${ARGS}")
get_filename_component(name ${INPUT} NAME)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${INPUT} DESTINATION ${WORK})
file(CREATE_LINK ${WORK}/${name} ${WORK}/hard)
file(CREATE_LINK ${name} ${WORK}/symbolic SYMBOLIC)

# "<input>|<output>": an input of "-" is the file sent to standard input.
# Wine gives a standard input redirected from a file an identity of its
# own, so under Wine that case is left to native runs.
set(cases "${name}|${name}" "${name}|./${name}" "${name}|hard" "${name}|symbolic")
if(NOT EMULATOR MATCHES "wine")
  list(APPEND cases "-|${name}")
endif()
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 input)
  list(GET case 1 output)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${args} ${input} -o ${output}
    WORKING_DIRECTORY ${WORK}
    INPUT_FILE ${WORK}/${name}
    OUTPUT_QUIET
    ERROR_VARIABLE err
    RESULT_VARIABLE status)
  if(NOT status EQUAL 2 OR NOT err MATCHES "${output}: the output file is the input file: nothing was written")
    message(FATAL_ERROR "${args} ${input} -o ${output}: exit status ${status}, messages:\n${err}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${INPUT} ${WORK}/${name} RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${args} ${input} -o ${output} changed the input")
  endif()
endforeach()
