# cmake -DSCDOC=scdoc -DINPUT=page.1.scd -DOUTPUT=page.1 -P RunScdoc.cmake
# scdoc reads its page from standard input and writes roff to standard output; a failed run
# leaves no half-written page behind for the next build to take as made.
execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}.tmp RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "scdoc failed on ${INPUT}: ${status}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
