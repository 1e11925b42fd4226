# One place for the language level, warnings and Qt hygiene of our own code.
add_library(corvantis_options INTERFACE)
target_compile_features(corvantis_options INTERFACE cxx_std_17)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(corvantis_options INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(corvantis_options INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

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
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# The libraries and the program are assembled from the folders' source lists.
add_library(corvantis_core STATIC)
target_include_directories(corvantis_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(corvantis_core PUBLIC Qt6::Core corvantis_options)

add_library(corvantis_gui STATIC)
target_include_directories(corvantis_gui PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(corvantis_gui PUBLIC corvantis_core Qt6::Gui Qt6::Widgets Qt6::PrintSupport
                                           Qt6::Network)
