# The reader of CalDAV servers' XML answers (clang's libFuzzer).
add_executable(fuzz_davxml fuzz_davxml.cpp)
target_link_libraries(fuzz_davxml PRIVATE corvantis_core)
target_compile_options(fuzz_davxml PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_davxml PRIVATE -fsanitize=fuzzer,address,undefined)
