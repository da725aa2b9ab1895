# Runs a copy of daqcheck with ARTDAQ_SIM=${SIM} and the arguments ${ARGS} in
# ${DIR}; fails unless it exits with ${EXIT} and its output (the report, then
# stderr) matches ${PATTERN}. A cross build runs it through ${EMULATOR} (Wine).
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})
file(COPY ${DAQCHECK} ${CARD_LIBRARY} DESTINATION ${DIR})
get_filename_component(program ${DAQCHECK} NAME)
set(ENV{ARTDAQ_SIM} "${SIM}")
separate_arguments(arguments UNIX_COMMAND "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${DIR}/${program} ${arguments}
                RESULT_VARIABLE result OUTPUT_VARIABLE report ERROR_VARIABLE errors)
# Windows writes its console text with CR LF.
string(REPLACE "\r\n" "\n" report "${report}")
string(REPLACE "\r\n" "\n" errors "${errors}")
message("${report}${errors}")
if(NOT result STREQUAL "${EXIT}")
  message(FATAL_ERROR "daqcheck exited with ${result}, expected ${EXIT}")
endif()
if(NOT "${report}${errors}" MATCHES "${PATTERN}")
  message(FATAL_ERROR "the report does not match: ${PATTERN}")
endif()
