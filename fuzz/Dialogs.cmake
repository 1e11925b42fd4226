# The reader of a fetched web page's description or title (clang's libFuzzer).
add_executable(fuzz_extract fuzz_extract.cpp)
set_target_properties(fuzz_extract PROPERTIES AUTOMOC OFF)
target_link_libraries(fuzz_extract PRIVATE corvantis_core)
target_compile_options(fuzz_extract PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_extract PRIVATE -fsanitize=fuzzer,address,undefined)
