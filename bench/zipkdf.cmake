# zipkdf_bench: instructions per AES key derivation, libcrypto's one call
# beside the prepared KDF (bench/zipkdf_bench.sh BUILD_DIR).
add_executable(zipkdf_bench ${CMAKE_CURRENT_LIST_DIR}/zipkdf_bench.cpp)
target_link_libraries(zipkdf_bench PRIVATE OpenSSL::Crypto)
