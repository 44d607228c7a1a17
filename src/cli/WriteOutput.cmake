# Runs PROGRAM with SWITCH and writes what it prints to OUTPUT; a failing run
# fails the build and leaves no half-written file. A sanitizer build runs here
# too, without the leak check that Qt's start-up would trip.
set(ENV{ASAN_OPTIONS} detect_leaks=0)
execute_process(COMMAND ${PROGRAM} ${SWITCH} OUTPUT_FILE ${OUTPUT}.part RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${OUTPUT}.part)
    message(FATAL_ERROR "${PROGRAM} ${SWITCH} failed: ${result}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
