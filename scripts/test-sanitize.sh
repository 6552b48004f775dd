#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the collector, its tools and its tests with AddressSanitizer (leak
# detection included) and UndefinedBehaviorSanitizer, Qt 5, and runs every
# test once: any report of theirs fails the test that made it, the programs
# the tests start included.
set -eu

racine=$(cd "$(dirname "$0")/.." && pwd)
"$racine/scripts/install-deps.sh" 5 essais

construction="$racine/build/sanitize-qt5"
echo "== Qt 5, ASan et UBSan : $construction"
cmake -S "$racine" -B "$construction" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCOLLECTEUR_QT_MAJOR=5 -DCOLLECTEUR_WERROR=ON -DCOLLECTEUR_SANITIZE=ON >/dev/null
cmake --build "$construction"

# The collector's end-to-end test preloads libfaketime, which ASan would
# otherwise refuse to follow in the list of libraries.
ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:verify_asan_link_order=0"
LSAN_OPTIONS="suppressions=$racine/tests/sanitize/lsan.supp:print_suppressions=0"
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
cd "$construction"
ctest --output-on-failure --timeout 900
