# The packet filter's part of start and stop on its own, for the
# firewall end-to-end test: nimbra_core with the real vendor library.
add_executable(firewall_harness ${CMAKE_CURRENT_SOURCE_DIR}/firewall_harness.cpp)
target_compile_options(firewall_harness PRIVATE -Wall -Wextra -Werror)
target_link_libraries(firewall_harness PRIVATE nimbra_core vendor)
