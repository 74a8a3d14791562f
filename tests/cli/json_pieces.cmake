# JSON Lines read in the tool's pieces of 1 MiB: a line longer than a piece,
# a run of integers over many lines, and values of two lines across the
# boundary of the next piece. The file is also a text in the text form, of
# the same values: from the file and from standard input, encode --json
# gives the bytes of encode, and encode --json --text the text of decode;
# validate --json counts every value.
#   cmake -DTOOL=<qkxdr> [-DEMULATOR=<runner>] -DOUT=<folder> -P json_pieces.cmake
string(REPEAT "x" 1200000 long)
string(REPEAT "7\n" 50000 sevens)
string(REPEAT "[1, 2.5, \"ab\",\n [\"cd\"]]\n" 40000 pairs)
set(json ${OUT}/pieces.json)
file(WRITE ${json} "\"${long}\"\n${sevens}${pairs}")

# Runs qkxdr with the arguments after `input`; fails unless it exits 0.
function(run input)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGN} INPUT_FILE ${input}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "qkxdr ${ARGN} exited ${status}:\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_same a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${a} ${b} RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${a} and ${b} differ")
  endif()
endfunction()

run(${json} encode ${json} -o ${OUT}/text.bin)
run(${json} encode --json ${json} -o ${OUT}/file.bin)
run(${json} encode --json - -o ${OUT}/stdin.bin)
expect_same(${OUT}/text.bin ${OUT}/file.bin)
expect_same(${OUT}/text.bin ${OUT}/stdin.bin)
run(${json} decode ${OUT}/text.bin -o ${OUT}/decoded.txt)
run(${json} encode --json --text - -o ${OUT}/json.txt)
expect_same(${OUT}/decoded.txt ${OUT}/json.txt)
run(${json} validate --json -)
if(NOT out STREQUAL "well formed: 370001 values\n")
  message(FATAL_ERROR "validate --json: ${out}")
endif()
