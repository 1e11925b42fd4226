# The reminder log reader (clang's libFuzzer).
add_executable(fuzz_reminderlog fuzz_reminderlog.cpp)
target_link_libraries(fuzz_reminderlog PRIVATE corvantis_core)
target_compile_options(fuzz_reminderlog PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_reminderlog PRIVATE -fsanitize=fuzzer,address,undefined)
