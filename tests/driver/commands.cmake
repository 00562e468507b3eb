# Command functions of the driver, exercised against the simulator over a pty.
add_executable(km_commands_test ${CMAKE_CURRENT_LIST_DIR}/commands_test.cpp)
target_link_libraries(km_commands_test PRIVATE km4410r_driver km4410r_sim GTest::gtest_main)
gtest_discover_tests(km_commands_test DISCOVERY_TIMEOUT 30)
