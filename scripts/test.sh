#!/usr/bin/env bash
# Builds everything twice (optimised, and with AddressSanitizer + UBSan) and runs every test.
# It says what it is doing and how far it is, and ends with a short summary of both builds
# (ctest's own summary lines); the whole output goes to test.log. Exit status 0 only when both
# builds built and every test passed.
set -uo pipefail
cd "$(dirname "$0")/.."
log=$PWD/test.log
: >"$log"
jobs=$(nproc 2>/dev/null || echo 2)
interactive=0
[ -t 1 ] && interactive=1

# progress LABEL: reads the output of a build or of ctest and keeps one line up to date with
# the build's percentage or the number of tests done.
progress() {
  local label=$1 line shown=""
  while IFS= read -r line; do
    if [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then shown="${BASH_REMATCH[1]}%"
    elif [[ $line =~ ^\ *([0-9]+)/([0-9]+)\ Test ]]; then shown="${BASH_REMATCH[1]}/${BASH_REMATCH[2]} tests"
    else continue; fi
    printf '\r%s: %s ' "$label" "$shown"
  done
}

# step LABEL COMMAND...: runs the command with its output in the log; shows progress on a
# terminal, a start line otherwise; then the time it took. Returns the command's status.
step() {
  local label=$1 start=$SECONDS status
  shift
  printf '\n==== %s: %s\n' "$label" "$*" >>"$log"
  if [ $interactive = 1 ]; then
    printf '%s: ' "$label"
    "$@" 2>&1 | tee -a "$log" | progress "$label"
    status=${PIPESTATUS[0]}
    printf '\r\033[K'
  else
    "$@" >>"$log" 2>&1
    status=$?
  fi
  if [ "$status" -eq 0 ]; then echo "$label: done ($((SECONDS - start)) s)"
  else echo "$label: FAILED (exit status $status; see $log)"; fi
  return "$status"
}

step "dependencies" bash scripts/deps.sh cmake g++ make libgtest-dev libgmock-dev python3 python3-dbfread \
  python3-dbf libgcrypt20-dev libdbd-xbase-perl pkg-config dpkg-dev || exit 1

status=0
summary=()
for kind in optimised sanitizer; do
  if [ $kind = optimised ]; then dir=build; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  else dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DZARBEL_SANITIZE=ON); fi
  if ! step "configure ($kind)" cmake -S . -B $dir "${flags[@]}" ||
     ! step "build ($kind)" cmake --build $dir -j"$jobs"; then
    grep -E 'error|Error' "$log" | tail -n 15
    summary+=("$kind build: build FAILED, no tests run")
    status=1
    continue
  fi
  out=$dir/ctest.out
  step "tests ($kind)" bash -c "cd $dir && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j$jobs 2>&1 | tee ctest.out; exit \${PIPESTATUS[0]}" || status=1
  summary+=("$kind build:")
  if grep -q 'tests passed, ' "$out" 2>/dev/null; then
    while IFS= read -r line; do summary+=("$line"); done < <(sed -n '/tests passed, /,$p' "$out" |
      grep -v -e '^$' -e 'Errors while running CTest' -e 'Output from these tests' -e 'rerun-failed')
  else
    summary+=("ctest did not finish (see $log)")
    status=1
  fi
done

echo
echo "== summary (the whole output is in $log) =="
printf '%s\n' "${summary[@]}"
exit $status
