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
    # Both read what the install step takes from the build.
    add_dependencies(${test} Corvantis corvantis_icons corvantis_docs)
endforeach()
add_dependencies(tst_desktop Corvantis)
