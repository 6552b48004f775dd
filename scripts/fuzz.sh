#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, Qt 5) and runs each for the given number of
# seconds (default 180), one after the other, or only the targets named:
#   scripts/fuzz.sh [secondes] [datagramme|trame]...
# The corpus each run grows stays in build/fuzz-qt5/corpus/ for the next run;
# an input that makes a target fail is written to build/fuzz-qt5/trouvailles/
# and belongs, once fixed, in tests/fuzz/regressions/<target>/.
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
duree=${1:-180}
[ $# -gt 0 ] && shift
cibles=${*:-datagramme trame signe}
"$racine/scripts/install-deps.sh" 5 fuzz

construction="$racine/build/fuzz-qt5"
CC=clang-14 CXX=clang++-14 cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCOLLECTEUR_QT_MAJOR=5 -DCOLLECTEUR_SANITIZE=ON -DCOLLECTEUR_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
for cible in $cibles; do
    cmake --build "$construction" --target "fuzz_$cible"
done

echec=0
for cible in $cibles; do
    corpus="$construction/corpus/$cible"
    trouvailles="$construction/trouvailles"
    journal="$construction/journaux/$cible.log"
    mkdir -p "$corpus" "$trouvailles" "$(dirname "$journal")"
    echo "== fuzz_$cible : $duree s, journal $journal"
    # A UDP datagram carries at most 65507 bytes of payload.
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$construction/tests/fuzz/fuzz_$cible" -max_total_time="$duree" -max_len=65507 -timeout=10 \
            -print_final_stats=1 -dict="$racine/tests/fuzz/$cible.dict" \
            -artifact_prefix="$trouvailles/$cible-" \
            "$corpus" "$racine/tests/fuzz/corpus/$cible" "$racine/tests/fuzz/regressions/$cible" \
            >"$journal" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units' "$journal" || true
    else
        echo "fuzz_$cible : défaut trouvé, voir $journal et $trouvailles" >&2
        tail -n 40 "$journal" >&2
        echec=1
    fi
done
exit $echec
