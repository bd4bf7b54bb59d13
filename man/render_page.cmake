# Turns the scdoc source SOURCE into the manual page OUTPUT. Two touches on scdoc's output keep
# names whole at a line's end: hyphenation is switched off after .TH (which turns it back on),
# and every hyphen becomes \-, at which a line is never broken (a name such as kvzubr-sim or
# --addr-bytes stays on one line, and reads the same when copied from the terminal).
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_VARIABLE page RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
# Each pass escapes every other hyphen of a run such as --, so two passes escape them all.
foreach(pass 1 2)
  string(REGEX REPLACE "([^\\])-" "\\1\\\\-" page "${page}")
endforeach()
# Except the minus signs of scdoc's own motions (\h'-04'), which are numbers.
string(REPLACE "\\h'\\-" "\\h'-" page "${page}")
string(REGEX REPLACE "(\n\\.TH [^\n]*\n)" "\\1.nh\n" page "${page}")
# Written under a temporary name, so a failed run leaves no page that looks up to date.
file(WRITE ${OUTPUT}.tmp "${page}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
