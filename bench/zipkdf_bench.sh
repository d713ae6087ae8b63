#!/usr/bin/env bash
# Instructions per AES key derivation (PBKDF2-HMAC-SHA1, 1,000 iterations,
# 66 bytes of keys as for AES-256), counted by callgrind rather than timed,
# since a shared machine makes wall time noise: libcrypto's one-call PBKDF2
# (what extraction uses) beside the KDF fetched and set up once and reused.
# Each side runs 1 and 1+N derivations; the difference over N is the cost of one.
#
#   bench/zipkdf_bench.sh BUILD_DIR [N]    (default N = 20)
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [N]}
n=${2:-20}
bench=$(realpath "$build/bench/zipkdf_bench")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

count() {  # mode derivations -> instructions of the whole run
    valgrind --tool=callgrind --callgrind-out-file="$out/cg" "$bench" "$1" "$2" >/dev/null 2>"$out/log"
    grep -m1 '^summary:' "$out/cg" | awk '{print $2}'
}

printf '%-10s %22s\n' way "instructions/derivation"
for mode in call prepared; do
    one=$(count "$mode" 1)
    many=$(count "$mode" $((n + 1)))
    printf '%-10s %22d\n' "$mode" $(((many - one) / n))
done
