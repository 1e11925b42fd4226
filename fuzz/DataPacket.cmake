# The list file reader (clang's libFuzzer). The core library is instrumented too, so the fuzzer
# sees the coverage of the scanner itself; whatever else links the core (the program, the gui
# library's users) then needs the sanitizer runtimes as well.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "The fuzz targets need clang (CXX=clang++)")
endif()
target_compile_options(corvantis_core PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
target_link_options(corvantis_core INTERFACE -fsanitize=address,undefined)

add_executable(fuzz_datapacket fuzz_datapacket.cpp)
# No Qt code generation here; it would only leave a folder beside the targets.
set_target_properties(fuzz_datapacket PROPERTIES AUTOMOC OFF)
target_link_libraries(fuzz_datapacket PRIVATE corvantis_core)
target_compile_options(fuzz_datapacket PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_datapacket PRIVATE -fsanitize=fuzzer,address,undefined)
