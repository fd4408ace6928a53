#!/usr/bin/env bash
# Builds the tree with AddressSanitizer/UndefinedBehaviorSanitizer and with
# ThreadSanitizer and runs the whole test suite in each build. Exits non-zero
# when a build or a test fails, or when any process of the run (a test, the
# tool or the server it started) wrote a sanitizer report.
#
#   scripts/sanitize.sh [asan|tsan]...     (default: both)
#
# ASAN_BUILD_DIR / TSAN_BUILD_DIR choose the build directories (default
# build-asan and build-tsan in the source tree); JOBS the parallelism.
# Only what the suites run is built (no benchmarks), at -O1: it compiles
# faster than -O2 and still runs the timing-bound tests at a usable speed.
# Reports go to files (log_path), not to standard error: the end-to-end tests
# compare standard error byte for byte, and the server's own output is not
# looked at by every test, so only the files see every report.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
supp="$top/tests/sanitizers"
jobs=${JOBS:-$(nproc)}
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(asan tsan)

log() { echo "sanitize: $*" >&2; }

configure_and_build() {  # dir option
    local dir=$1 option=$2
    cmake -S "$top" -B "$dir" -G Ninja "-D$option=ON" -DVELNOR_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g -DNDEBUG" >/dev/null || return 1
    cmake --build "$dir" -j"$jobs"
}

# Prints every report file under $1; non-zero when there is one.
check_reports() {
    local reports=("$1"/*)
    [ -e "${reports[0]}" ] || return 0
    log "${#reports[@]} sanitizer report file(s):"
    for r in "${reports[@]}"; do
        echo "==== $r" >&2
        cat "$r" >&2
    done
    return 1
}

run_suite() {  # kind dir
    local kind=$1 dir=$2 reports
    reports=$(mktemp -d "${TMPDIR:-/tmp}/velnor-$kind-reports-XXXXXX")
    local common="log_path=$reports/report:log_exe_name=1"
    # The test binaries find the sanitized tool and server through their
    # build directory (VELNOR_BIN_DIR), so every process here is sanitized.
    ASAN_OPTIONS="$common:detect_leaks=1:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1" \
    LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="$common:print_stacktrace=1:halt_on_error=1" \
    TSAN_OPTIONS="$common:halt_on_error=0:second_deadlock_stack=1:suppressions=$supp/tsan.supp:print_suppressions=0" \
        ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 600
    local status=$?
    check_reports "$reports" || status=1
    rm -rf "$reports"
    return $status
}

failed=0
for kind in "${kinds[@]}"; do
    case $kind in
        asan) dir=${ASAN_BUILD_DIR:-$top/build-asan} option=VELNOR_ASAN ;;
        tsan) dir=${TSAN_BUILD_DIR:-$top/build-tsan} option=VELNOR_TSAN ;;
        *) log "unknown kind '$kind' (asan or tsan)"; exit 2 ;;
    esac
    start=$SECONDS
    if ! configure_and_build "$dir" "$option"; then
        log "$kind: build failed"
        failed=1
        continue
    fi
    built=$SECONDS
    run_suite "$kind" "$dir" || failed=1
    log "$kind: build $((built - start)) s, tests $((SECONDS - built)) s"
done
[ $failed -eq 0 ] && log "clean" || log "FAILED"
exit $failed
