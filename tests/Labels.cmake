# CTest script: gives every discovered test its labels and its time-out. The
# tests are discovered when CTest runs, so this reads the lists the discovery
# left (test_<folder>_TESTS) rather than setting properties at configure time.
#
#   quick   "ctest -L quick": a test that takes about a second, whose folder
#           is of the fast kind below and that no rule here moves out; the
#           whole label runs in about a minute. Time-out 60 s.
#   (none)  the tests between: whole tasks run through ovsqlcli or a window,
#           a few seconds each. Time-out 120 s.
#   slow    kill loops, silent servers waited out, large inputs, tasks run
#           over and over. Time-out 300 s.
#   mssql   needs a real SQL Server (skipped without one). Time-out 300 s.
#   tdspeer talks to the scripted TDS peer (tests/support/tdspeer.py); it
#           comes beside one of the labels above.
#
# A hang is caught at its test's time-out, so a quick test that hangs costs a
# minute and not five. A new test takes its folder's kind; a slow one in a
# fast folder gets a rule here.

# The folders whose tests are quick unless a rule below says otherwise: code
# run in the test's own process against real files, windows driven offscreen.
set(ov_quick_folders common config app data update create convert jet)

# Tests in those folders that take a few seconds each.
set(ov_between_tests
    # Logins through FreeTDS to closed ports and scripted peers, a time-out
    # or two among them.
    "^FreeTds\\."
    "^MssqlPeer\\.LoginRefusalAndTimeOutAreToldApartBySqlState$"
    # The shipped update script run in full, more than once.
    "^SchemaCheckTest\\."
    "^ShippedScriptsTest\\."
    # mdbtools and mdb-reader (Node.js) started for every file read back.
    "^JetWriterTest\\."
    "^JetWriterHeaderTest\\."
    "^JetWriterWideTest\\."
    "^JetReaderTest\\."
    "^JetCdbInfo\\."
    # Whole conversions and creations through the windows.
    "^ConvertWindow\\."
    "^CreateWindow\\."
    "^CreateDatabase\\."
    "^UpdateWindow\\.")

# Slow wherever they are.
set(ov_slow_tests
    # Kill loops: a child killed at point after point, each state checked.
    "^KilledCommandTest\\."
    "^BackupKills\\."
    "^ConfigFaults\\.(ReaderGetsTheValuesOfOneWrite|KilledWriterLeavesOldOrNewFile|TwoWritersAtOnceKeepEachOthersKeys)$"
    # Silent servers: each waits out a login or query time-out.
    "^TdsPeer\\.(SilenceEndsAtTheLoginAndQueryTimeOuts|SlowAnswersArriveOrMeetTheQueryTimeOut|PeerEndsByItself)$"
    "^FreeTds\\.ServerThatNever(Answers|SaysAWord)"
    "^(BackupWindow|RestoreWindow)\\..*SilentServer"
    # Large inputs: a hundred thousand rows, a line of 150 MB.
    "^JetLargeTable\\."
    "^JetWriterLargeTest\\."
    "^BadInput\\.ScriptOfOneFiftyMegabyteLine$"
    # Tasks run over and over: every command every way its help is asked
    # for, updates rerun after every gap.
    "^UsageTextsTest\\.EveryCommandPrintsItsUsageHoweverItIsAskedFor$"
    "^CheckCommandTest\\.")

# Every test runs on the offscreen platform; in the sanitizer build the leak
# check, on by default, reads the suppressions of lsan.supp, and so do the
# programs a test starts, which inherit the environment.
set(ov_environment "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp")

function(ov_matches test patterns result)
    foreach(pattern IN LISTS ${patterns})
        if(test MATCHES "${pattern}")
            set(${result} TRUE PARENT_SCOPE)
            return()
        endif()
    endforeach()
    set(${result} FALSE PARENT_SCOPE)
endfunction()

foreach(folder common config app data update create convert jet backup cli faults)
    foreach(test IN LISTS test_${folder}_TESTS)
        # A parameterised test's name starts with its instantiation
        # ("Engines/FieldAssignment.…"); the rules name the suite.
        string(REGEX REPLACE "^[A-Za-z0-9_]+/" "" name "${test}")
        ov_matches("${name}" ov_slow_tests slow)
        ov_matches("${name}" ov_between_tests between)
        list(FIND ov_quick_folders ${folder} quickFolder)
        set(labels "")
        if(name MATCHES "^MssqlServer\\.")
            set(labels mssql)
            set(timeout 300)
        elseif(slow)
            set(labels slow)
            set(timeout 300)
        elseif(between OR quickFolder LESS 0)
            set(timeout 120) # as tests/CMakeLists.txt gives every test
        else()
            set(labels quick)
            set(timeout 60)
        endif()
        if(name MATCHES "^(TdsPeer|MssqlPeer|MssqlBackupWire|Peer[A-Za-z]+)\\.")
            list(APPEND labels tdspeer)
        endif()
        if(labels)
            set_tests_properties("${test}" PROPERTIES LABELS "${labels}")
        endif()
        set_tests_properties("${test}" PROPERTIES TIMEOUT ${timeout} ENVIRONMENT "${ov_environment}")
    endforeach()
endforeach()
