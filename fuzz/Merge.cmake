# Merging two copies of a list read from arbitrary bytes (clang's libFuzzer).
add_executable(fuzz_merge fuzz_merge.cpp)
target_link_libraries(fuzz_merge PRIVATE corvantis_core)
target_compile_options(fuzz_merge PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_merge PRIVATE -fsanitize=fuzzer,address,undefined)
