# The filter language, with LIKE checked against a reference matcher (clang's libFuzzer).
add_executable(fuzz_filter fuzz_filter.cpp)
target_link_libraries(fuzz_filter PRIVATE corvantis_core)
target_compile_options(fuzz_filter PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_filter PRIVATE -fsanitize=fuzzer,address,undefined)
