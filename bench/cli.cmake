# cli_bench: velmora-cli as a whole process beside openssl, zip, unzip, bsdtar
# and perl rename, and beside the window's batches, on data in /dev/shm.
#   build/bench/cli_bench build/src/cli/velmora-cli
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(cli_bench ${CMAKE_CURRENT_LIST_DIR}/cli_bench.cpp)
target_link_libraries(cli_bench PRIVATE velmora_app Qt6::Widgets Qt6::Test)
add_dependencies(cli_bench velmora-cli)
