# zipplan_bench: reading and checking the directory of a large archive, and
# refusing hostile ones, before anything is extracted.
add_executable(zipplan_bench ${CMAKE_CURRENT_LIST_DIR}/zipplan_bench.cpp)
target_link_libraries(zipplan_bench PRIVATE velmora_zip)
