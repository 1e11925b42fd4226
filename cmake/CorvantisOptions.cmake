# One place for the language level, warnings and Qt hygiene of our own code.
add_library(corvantis_options INTERFACE)
target_compile_features(corvantis_options INTERFACE cxx_std_17)
set(CMAKE_CXX_EXTENSIONS OFF)
# Warnings are errors in CI, in the test command and in Debug builds; a user's Release build
# with another compiler's new warnings still builds.
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    set(corvantis_werror_default ON)
else()
    set(corvantis_werror_default OFF)
endif()
option(CORVANTIS_WERROR "Treat warnings in our own code as errors" ${corvantis_werror_default})
target_compile_options(corvantis_options INTERFACE -Wall -Wextra $<$<BOOL:${CORVANTIS_WERROR}>:-Werror>)
target_compile_definitions(corvantis_options INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

# For the package (scripts/package.sh): the folders of the sources and of the build leave no
# trace in what is built (file names in the debug information and in messages), as
# dpkg-buildflags maps them for Debian's own packages, so two builds of one commit in two folders
# give the same bytes. Every target takes them, Qt's generated resource objects too. Where the
# build folder lies inside the sources, its more particular map comes last and wins. Off
# elsewhere: a debugger run in the build folder finds the sources by their real paths.
option(CORVANTIS_MAP_PATHS "Build no source or build folder path into the program" OFF)
if(CORVANTIS_MAP_PATHS)
    add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}=."
                        "-ffile-prefix-map=${PROJECT_BINARY_DIR}=build")
endif()

# Every program is position independent, so the system can load it at a random address.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
# Release-type builds, the package's among them, are hardened as Debian hardens its own: checked
# copies of the C library's buffer routines (they need the optimiser; level 3 also checks buffers
# whose size is known only at run time, as the list readers' are), a guard on the stack, and
# relocations made read-only once every symbol is bound at start. The sanitizer and fuzz builds
# bring checks of their own, which these would get in the way of.
if(NOT CORVANTIS_SANITIZE AND NOT CORVANTIS_FUZZ)
    set(release_type "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
    target_compile_options(corvantis_options INTERFACE
        "$<${release_type}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3;-fstack-protector-strong>")
    target_link_options(corvantis_options INTERFACE "$<${release_type}:LINKER:-z,relro,-z,now>")
endif()

if(CORVANTIS_SANITIZE)
    # Applied to everything we build so that every object shares the runtime.
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

if(CORVANTIS_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "The fuzz targets need clang (CXX=clang++)")
    endif()
    # Everything is instrumented so the fuzzers see the coverage of our readers; only the fuzz
    # targets link libFuzzer's main.
    # UBSan stops at its first report, so that a fuzzer counts it as a finding.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# The libraries and the program are assembled from the folders' source lists.
add_library(corvantis_core STATIC)
target_include_directories(corvantis_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(corvantis_core PUBLIC Qt6::Core Qt6::DBus corvantis_options)
# Production code spells every conversion from 8-bit text; tests may use plain literals.
target_compile_definitions(corvantis_core PRIVATE QT_NO_CAST_FROM_ASCII)

add_library(corvantis_gui STATIC)
target_include_directories(corvantis_gui PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(corvantis_gui PUBLIC corvantis_core Qt6::Gui Qt6::Widgets Qt6::PrintSupport
                                           Qt6::Network)
target_compile_definitions(corvantis_gui PRIVATE QT_NO_CAST_FROM_ASCII)
