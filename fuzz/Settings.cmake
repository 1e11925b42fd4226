# The settings file reader (clang's libFuzzer).
add_executable(fuzz_inifile fuzz_inifile.cpp)
target_link_libraries(fuzz_inifile PRIVATE corvantis_core)
target_compile_options(fuzz_inifile PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_inifile PRIVATE -fsanitize=fuzzer,address,undefined)
