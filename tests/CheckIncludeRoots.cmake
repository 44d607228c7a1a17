# CMake script: fails when a header under TESTS_DIR has the path, relative to
# that folder, of a header under SRC_DIR. The tests are compiled with both
# folders as include roots, so "data/X.h" of either would shadow the other
# depending on their order.
#
#   cmake -DSRC_DIR=src -DTESTS_DIR=tests -P CheckIncludeRoots.cmake
if(NOT SRC_DIR OR NOT TESTS_DIR)
    message(FATAL_ERROR "CheckIncludeRoots.cmake needs -DSRC_DIR=... and -DTESTS_DIR=...")
endif()
file(GLOB_RECURSE test_headers RELATIVE ${TESTS_DIR} ${TESTS_DIR}/*.h ${TESTS_DIR}/*.hpp)
set(clashes)
foreach(header IN LISTS test_headers)
    if(EXISTS ${SRC_DIR}/${header})
        list(APPEND clashes ${header})
    endif()
endforeach()
if(clashes)
    list(JOIN clashes "\n  " listed)
    message(FATAL_ERROR "These headers under ${TESTS_DIR} have the path of a header under ${SRC_DIR}; "
                        "rename them so that an include names one file only:\n  ${listed}")
endif()
