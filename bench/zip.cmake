# zip_bench: the ZIP facility beside zip -6, unzip, bsdtar and pigz.
add_executable(zip_bench ${CMAKE_CURRENT_LIST_DIR}/zip_bench.cpp)
target_link_libraries(zip_bench PRIVATE velmora_zip)
