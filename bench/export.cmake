# The whole-tree list export through the real window, beside find(1).
add_executable(export_bench ${CMAKE_CURRENT_SOURCE_DIR}/export_bench.cpp)
target_link_libraries(export_bench PRIVATE velmora_app Qt6::Widgets)
