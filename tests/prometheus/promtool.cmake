# Checks the rules' syntax, then runs their unit tests; fails at the first that fails.
foreach(step "check;rules;${RULES_DIR}/zolvaned-alerts.yml" "test;rules;zolvaned-alerts.test.yml")
  execute_process(COMMAND ${PROMTOOL} ${step} WORKING_DIRECTORY ${RULES_DIR}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "promtool ${step} failed (${status})")
  endif()
endforeach()
