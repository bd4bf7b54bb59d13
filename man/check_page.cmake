# Renders the manual page PAGE with MAN at a terminal's 80 columns and fails on any warning
# of the formatter (a macro misused, a line that cannot be broken, ...). Then renders it at
# several widths and fails where a word is cut at a line's end (a name such as LD_LIBRARY_PATH
# hyphenated, or kvzubr-sim split at its hyphen): names must stay whole to be read and copied.
function(render width)
  set(ENV{MANWIDTH} ${width})
  execute_process(COMMAND ${MAN} --warnings=all -l ${PAGE}
    RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
  if(NOT result EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "${PAGE} does not render at ${width} columns (status ${result}):\n${warnings}")
  endif()
  set(text "${text}" PARENT_SCOPE)
  set(warnings "${warnings}" PARENT_SCOPE)
endfunction()

render(80)
if(NOT warnings STREQUAL "")
  message(FATAL_ERROR "${PAGE} does not render cleanly:\n${warnings}")
endif()

foreach(width 60 72 80 100 132)
  render(${width})
  string(REGEX MATCHALL "[^\n ]*[A-Za-z0-9_]-\n[ ]*[^\n ]*" cut "${text}")
  if(cut)
    string(REPLACE ";" "\n  " cut "${cut}")
    message(FATAL_ERROR "${PAGE} at ${width} columns cuts words at a line's end:\n  ${cut}")
  endif()
endforeach()
