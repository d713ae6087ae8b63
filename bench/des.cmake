# DES: the bulk engines and the file routines against OpenSSL.
add_executable(des_bench ${CMAKE_CURRENT_LIST_DIR}/des_bench.cpp)
target_link_libraries(des_bench PRIVATE velmora_cipher OpenSSL::Crypto)
