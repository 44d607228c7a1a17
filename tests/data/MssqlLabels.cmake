# CTest script: labels the discovered tests of test_data (see
# src/data/CMakeLists.txt). Those that need a real SQL Server carry "mssql";
# those of the scripted TDS peer, and of the tool's code against it, carry
# "tdspeer" and "quick": they need no server and take a few seconds each.
foreach(test IN LISTS test_data_TESTS)
    if(test MATCHES "^MssqlServer\\.")
        set_tests_properties("${test}" PROPERTIES LABELS mssql)
    elseif(test MATCHES "^(TdsPeer|MssqlPeer)\\.")
        set_tests_properties("${test}" PROPERTIES LABELS "tdspeer;quick")
    elseif(test MATCHES "^(MssqlBackupWire|PeerBackup|PeerRestore|PeerBrowser|PeerLock)\\.")
        set_tests_properties("${test}" PROPERTIES LABELS "tdspeer;quick")
    endif()
endforeach()
