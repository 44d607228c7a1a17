# CTest script: labels the discovered tests of test_data that need a real SQL
# Server (see src/data/CMakeLists.txt).
foreach(test IN LISTS test_data_TESTS)
    if(test MATCHES "^MssqlServer\\.")
        set_tests_properties("${test}" PROPERTIES LABELS mssql)
    endif()
endforeach()
