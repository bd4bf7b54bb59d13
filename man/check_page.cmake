# Renders the manual page PAGE with MAN at a terminal's 80 columns and fails on any warning
# of the formatter (a macro misused, a line that cannot be broken, ...).
set(ENV{MANWIDTH} 80)
execute_process(COMMAND ${MAN} --warnings=all -l ${PAGE}
  RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "" OR text STREQUAL "")
  message(FATAL_ERROR "${PAGE} does not render cleanly (status ${result}):\n${warnings}")
endif()
