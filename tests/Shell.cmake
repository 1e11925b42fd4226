# The main window, the start-up and the task-list view.
corvantis_test(tst_taskgridmodel gui)
corvantis_test(tst_mainwindow gui)
corvantis_test(tst_startupfiles gui)
corvantis_test(tst_failedsaves gui)
corvantis_test(tst_keepwork gui)
# Every window's texts fit their places, in the interface face and a wider one.
corvantis_test(tst_textfit gui)
# Every window reads in a light and a dark desktop palette.
corvantis_test(tst_themes gui)
# Every window as a screen reader finds it, in an X server and an accessibility bus of its own.
add_executable(tst_accessibility gui/tst_accessibility.cpp)
target_link_libraries(tst_accessibility PRIVATE corvantis_testsupport)
target_include_directories(tst_accessibility PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(tst_accessibility PRIVATE
    CORVANTIS_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
    ATSPI_WALK="${CMAKE_CURRENT_SOURCE_DIR}/support/atspi-walk.py")
add_test(NAME tst_accessibility
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/atspi-session.sh
                 $<TARGET_FILE:tst_accessibility>)
set_tests_properties(tst_accessibility PROPERTIES TIMEOUT 600)
