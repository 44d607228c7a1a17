# Runs PROGRAM with SWITCH and writes what it prints to OUTPUT; a failing run
# fails the build and leaves no half-written file. In a sanitizer build the
# leak check runs here too: printing the usage texts leaks nothing.
execute_process(COMMAND ${PROGRAM} ${SWITCH} OUTPUT_FILE ${OUTPUT}.part RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${OUTPUT}.part)
    message(FATAL_ERROR "${PROGRAM} ${SWITCH} failed: ${result}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
