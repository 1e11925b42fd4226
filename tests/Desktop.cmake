# The program as a desktop starts it (command line, icons, a first session), and what its install
# and its Debian package put in place.
corvantis_test(tst_desktop gui)
corvantis_test(tst_firstsession gui)
corvantis_test(tst_install core)
corvantis_test(tst_package core)
target_compile_definitions(tst_desktop PRIVATE CORVANTIS_PROGRAM="$<TARGET_FILE:Corvantis>"
                                               CORVANTIS_VERSION="${PROJECT_VERSION}")
foreach(test tst_install tst_package)
    target_compile_definitions(${test} PRIVATE
        CORVANTIS_CMAKE="${CMAKE_COMMAND}"
        CORVANTIS_BUILD_DIR="${PROJECT_BINARY_DIR}"
        CORVANTIS_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        CORVANTIS_VERSION="${PROJECT_VERSION}")
endforeach()
# The install reads what the install step takes from this build.
add_dependencies(tst_install Corvantis corvantis_icons corvantis_docs)
# The package is built twice, from two copies of the sources, each in a build of its own: the
# first run builds the program twice (later runs only what changed).
set_tests_properties(tst_package PROPERTIES TIMEOUT 5400 ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen;DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent;QTEST_FUNCTION_TIMEOUT=5400000")
add_dependencies(tst_desktop Corvantis)
