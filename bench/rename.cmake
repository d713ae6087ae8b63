# The whole-tree numbered rename through the real window, beside perl rename.
add_executable(rename_bench ${CMAKE_CURRENT_LIST_DIR}/rename_bench.cpp)
target_link_libraries(rename_bench PRIVATE velmora_app Qt6::Widgets)
