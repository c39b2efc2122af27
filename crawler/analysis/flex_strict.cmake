# Runs flex and fails when it prints anything, so a warning about the rules
# (an unreachable rule, a byte no rule consumes) stops the build.
# Usage: cmake -DFLEX=<flex> -DINPUT=<rules.l> -DOUTPUT=<scanner.cpp> -P flex_strict.cmake
execute_process(
  COMMAND ${FLEX} -o ${OUTPUT} ${INPUT}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE messages
  ERROR_VARIABLE messages)
if(NOT status EQUAL 0 OR NOT messages STREQUAL "")
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "flex failed on ${INPUT}:\n${messages}")
endif()
