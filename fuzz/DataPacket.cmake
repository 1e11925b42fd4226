# The list file reader (clang's libFuzzer), checked against the reference reader of the tests.
add_executable(fuzz_datapacket fuzz_datapacket.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/ReferencePacketReader.cpp)
target_include_directories(fuzz_datapacket PRIVATE ${PROJECT_SOURCE_DIR}/tests)
# No Qt code generation here; it would only leave a folder beside the targets.
set_target_properties(fuzz_datapacket PROPERTIES AUTOMOC OFF)
target_link_libraries(fuzz_datapacket PRIVATE corvantis_core)
target_compile_options(fuzz_datapacket PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_datapacket PRIVATE -fsanitize=fuzzer,address,undefined)
