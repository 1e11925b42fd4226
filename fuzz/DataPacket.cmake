# The list file reader (clang's libFuzzer).
add_executable(fuzz_datapacket fuzz_datapacket.cpp)
# No Qt code generation here; it would only leave a folder beside the targets.
set_target_properties(fuzz_datapacket PROPERTIES AUTOMOC OFF)
target_link_libraries(fuzz_datapacket PRIVATE corvantis_core)
target_compile_options(fuzz_datapacket PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_datapacket PRIVATE -fsanitize=fuzzer,address,undefined)
