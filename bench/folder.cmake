# Folder browsing on a large tree through the real window, beside find(1).
add_executable(folder_bench ${CMAKE_CURRENT_SOURCE_DIR}/folder_bench.cpp)
target_link_libraries(folder_bench PRIVATE velmora_app Qt6::Widgets)
