# The iCalendar reader and the writing of a task over a to-do (clang's libFuzzer).
add_executable(fuzz_ical fuzz_ical.cpp)
target_link_libraries(fuzz_ical PRIVATE corvantis_core)
target_compile_options(fuzz_ical PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_ical PRIVATE -fsanitize=fuzzer,address,undefined)
