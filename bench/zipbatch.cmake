# zipbatch_bench: the compress and extract buttons through the real window,
# beside the ZIP facility alone and zip -6 / unzip.
add_executable(zipbatch_bench ${CMAKE_CURRENT_LIST_DIR}/zipbatch_bench.cpp)
target_link_libraries(zipbatch_bench PRIVATE velmora_app Qt6::Widgets)
