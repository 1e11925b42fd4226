# Calendar sync: the CalDAV client against real servers started by the test (Radicale, Xandikos)
# and a scripted loopback server for the failures no real server gives on demand.
corvantis_test(tst_caldav core)
corvantis_test(tst_syncstate core)

# The password test needs a session bus and an unlocked keyring, started for it alone.
add_executable(tst_syncpassword core/tst_syncpassword.cpp)
target_link_libraries(tst_syncpassword PRIVATE corvantis_core Qt6::Test)
target_include_directories(tst_syncpassword PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
add_test(NAME tst_syncpassword
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/keyring-session.sh
                 $<TARGET_FILE:tst_syncpassword>)
set_tests_properties(tst_syncpassword PROPERTIES TIMEOUT 120)
# Two copies of a list synced through each server.
corvantis_test(tst_caldavsync core)
target_compile_definitions(tst_caldavsync PRIVATE
    CORVANTIS_TEST_SUPPORT="${CMAKE_CURRENT_SOURCE_DIR}/support")
# Other clients' tasks through the sync and back: real servers, python3-caldav, vdirsyncer and
# todoman.
corvantis_test(tst_syncfidelity core)
# Random sequences over two or three machines that share a synced folder and a calendar, for
# CORVANTIS_MODEL_SECONDS (60 by default); a finding is shrunk and kept in data/manymachines/.
# The suite runs 20 s from a fixed seed, so a run fails only for a change of the program's; run
# the binary without CORVANTIS_MODEL_SEED (the clock seeds it) and longer to look further.
corvantis_test(tst_manymachines core)
set_tests_properties(tst_manymachines PROPERTIES TIMEOUT 3600 ENVIRONMENT
    "CORVANTIS_MODEL_SEED=100;CORVANTIS_MODEL_SECONDS=20")
# A list synced through the real windows, with a keyring of its own.
add_executable(tst_syncwindow gui/tst_syncwindow.cpp)
target_link_libraries(tst_syncwindow PRIVATE corvantis_testsupport)
target_include_directories(tst_syncwindow PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(tst_syncwindow PRIVATE
    CORVANTIS_TEST_SUPPORT="${CMAKE_CURRENT_SOURCE_DIR}/support")
add_test(NAME tst_syncwindow
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/keyring-session.sh
                 $<TARGET_FILE:tst_syncwindow>)
set_tests_properties(tst_syncwindow PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
# A repeating task completed here and by another program's client, through Radicale.
corvantis_test(tst_repeatsync core)
target_compile_definitions(tst_repeatsync PRIVATE
    CORVANTIS_TEST_SUPPORT="${CMAKE_CURRENT_SOURCE_DIR}/support")
