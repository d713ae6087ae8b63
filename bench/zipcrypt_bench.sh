#!/usr/bin/env bash
# Encrypted archives beside plain ones, on a copy of /usr/include: velmora-cli
# zip without and with a password (AES-256), 7z's AES-256 ZIP at -mx=5, and
# velmora-cli unzip of the plain and the encrypted archive. The cases take
# turns within each round, so a busy machine slows them alike; the table gives
# the median wall time of each and its ratio to the plain case of its kind.
#
#   bench/zipcrypt_bench.sh BUILD_DIR [rounds]    (default 5 rounds)
#   VZ_BENCH_DIR=/path                            scratch folder (default: under /dev/shm)
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [rounds]}
rounds=${2:-5}
cli=$(realpath "$build/src/cli/velmora-cli")
base=${VZ_BENCH_DIR:-$(mktemp -d /dev/shm/vz_crypt_bench.XXXXXX)}
trap 'rm -rf "$base"' EXIT
mkdir -p "$base/out"
cp -rL /usr/include "$base/src" 2>/dev/null || true
"$cli" zip "$base/plain.zip" -r "$base/src" >/dev/null
"$cli" zip -p pw "$base/aes.zip" -r "$base/src" >/dev/null

names=("zip" "zip -p" "7z a -mem=AES256 -mx=5" "unzip" "unzip -p")
run() {
    rm -rf "$base/out" "$base/new.zip" && mkdir -p "$base/out"
    case $1 in
        0) "$cli" zip "$base/new.zip" -r "$base/src" ;;
        1) "$cli" zip -p pw "$base/new.zip" -r "$base/src" ;;
        2) (cd "$base/src" && 7z a -tzip -mem=AES256 -mx=5 -mmt=2 -ppw "$base/new.zip" . ) ;;
        3) "$cli" unzip -t "$base/out" "$base/plain.zip" ;;
        4) "$cli" unzip -p pw -t "$base/out" "$base/aes.zip" ;;
    esac >/dev/null 2>&1
}

declare -A times
for ((r = 0; r < rounds; r++)); do
    for c in 0 1 2 3 4; do
        sync
        start=$(date +%s.%N)
        run "$c"
        times[$c]+="$(echo "$(date +%s.%N) - $start" | bc) "
    done
done

median() { tr ' ' '\n' | grep . | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
printf '%s files, %s; %s rounds, cases in turn\n' "$(find "$base/src" -type f | wc -l)" "$(du -sh "$base/src" | cut -f1)" "$rounds"
printf '%-26s %10s %10s\n' case "wall (s)" ratio
for c in 0 1 2 3 4; do
    m[$c]=$(echo "${times[$c]}" | median)
    ref=$(( c < 3 ? 0 : 3 ))
    printf '%-26s %10.3f %10.2f\n' "${names[$c]}" "${m[$c]}" "$(echo "${m[$c]} / ${m[$ref]}" | bc -l)"
done
