#!/usr/bin/env bash
# Mutation checks: breaks the product one line at a time, as listed in scripts/mutants.txt, and runs
# the test suite against each break. A mutation is "killed" when a test fails, "survived" when every
# test passes (a fault the suite cannot see), "no build" when the break does not compile.
# Mutations marked equivalent in the list (they cannot change any behaviour) are run too and
# reported as such.
#
#   scripts/mutants.sh [-j N] [NUMBER ...]
#
# NUMBER picks mutations of the list (1-based); without, all are run. Uses the release preset
# (build/release), rebuilt incrementally after each change. The file under mutation is restored
# after each run and when the script is interrupted; a run killed outright is mended at the next
# start (the saved original in build/release/mutants/ is put back first).
set -euo pipefail
cd "$(dirname "$0")/.."

list=scripts/mutants.txt
jobs=2
picked=()
while [ $# -gt 0 ]; do
  case "$1" in
    -j) jobs=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) picked+=("$1"); shift ;;
  esac
done

state=build/release/mutants
mkdir -p "$state"

# ---- never leave a mutation behind ----------------------------------------------------------------
restore() {
  if [ -f "$state/original" ] && [ -f "$state/target" ]; then
    cp "$state/original" "$(cat "$state/target")"
    rm -f "$state/original" "$state/target"
  fi
}
restore  # a previous run that was killed
trap 'restore; exit 130' INT TERM
trap restore EXIT

# ---- the list ---------------------------------------------------------------------------------------
# Blocks of lines:
#   ## the fault the mutation models
#   path/of/file.cpp [@N]          (N: which occurrence of the text, 1 unless given)
#   -text to find (exactly, from its first character after "-")
#   +its replacement
#   = equivalent: why it cannot change any behaviour   (optional)
faults=() files=() nths=() finds=() replaces=() equivalents=()
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    '## '*) faults+=("${line#\#\# }"); files+=(""); nths+=(1); finds+=(""); replaces+=(""); equivalents+=("") ;;
    '-'*) finds[-1]="${line#-}" ;;
    '+'*) replaces[-1]="${line#+}" ;;
    '= '*) equivalents[-1]="${line#= }" ;;
    ''|'#'*) ;;
    *)
      read -r path nth <<<"$line"
      files[-1]=$path
      nths[-1]=${nth#@}
      [ -n "${nths[-1]}" ] || nths[-1]=1
      ;;
  esac
done <"$list"
count=${#faults[@]}
[ "$count" -gt 0 ] || { echo "no mutations in $list" >&2; exit 2; }
if [ ${#picked[@]} -eq 0 ]; then
  picked=($(seq 1 "$count"))
fi

# ---- the baseline -----------------------------------------------------------------------------------
scripts/deps.sh chromium
cmake --preset release >/dev/null
echo "building the release preset and running the suite once unchanged ..."
cmake --build --preset release -j "$jobs" >/dev/null
if ! ctest --preset release -j "$jobs" --timeout 300 >"$state/baseline.log" 2>&1; then
  echo "the unchanged suite fails (see $state/baseline.log): nothing to measure" >&2
  exit 1
fi

# Applies mutation i to its file (saved first). False when the text is not found.
apply() {
  local i=$1 file=${files[$1]}
  cp "$file" "$state/original"
  echo "$file" >"$state/target"
  FIND=${finds[$i]} REPL=${replaces[$i]} NTH=${nths[$i]} perl -0777 -i -pe '
    BEGIN { $f = $ENV{FIND}; $r = $ENV{REPL}; $n = $ENV{NTH}; $k = 0; $done = 0 }
    s/\Q$f\E/++$k == $n ? do { $done = 1; $r } : $f/ge;
    END { exit($done ? 0 : 3) }' "$file"
}

# The quick tests first: most breaks are seen there, before the runs of the whole station.
slow='EndToEnd|StationRecords|DiagnosisOnSimulator|UsbPath|ResultsTool'
start=$(date +%s)
declare -A tally=([killed]=0 [survived]=0 ["no build"]=0 [equivalent]=0 [not found]=0)
rows=()
for n in "${picked[@]}"; do
  i=$((n - 1))
  if [ "$i" -lt 0 ] || [ "$i" -ge "$count" ]; then
    echo "no mutation $n (the list has $count)" >&2
    exit 2
  fi
  printf '%3d %-70.70s ' "$n" "${faults[$i]}"
  if ! apply "$i"; then
    restore
    result="not found"
  elif ! cmake --build --preset release -j "$jobs" >"$state/build-$n.log" 2>&1; then
    result="no build"
  elif ctest --preset release -j "$jobs" --timeout 300 --stop-on-failure -E "$slow" >"$state/test-$n.log" 2>&1 &&
       ctest --preset release -j "$jobs" --timeout 300 --stop-on-failure -R "$slow" >>"$state/test-$n.log" 2>&1; then
    result=survived
  else
    result=killed
  fi
  restore
  if [ "$result" = survived ] && [ -n "${equivalents[$i]}" ]; then
    result=equivalent
  fi
  tally[$result]=$((tally[$result] + 1))
  echo "$result"
  rows+=("$(printf '| %d | %s | %s | %s |' "$n" "${files[$i]}" "${faults[$i]}" "$result")")
done
# Leave the build as the sources are.
cmake --build --preset release -j "$jobs" >/dev/null

echo
echo "| # | file | fault | result |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "killed ${tally[killed]}, survived ${tally[survived]}, equivalent ${tally[equivalent]}, no build ${tally[no build]}, not found ${tally[not found]} of ${#picked[@]} in $(( $(date +%s) - start )) s"
[ "${tally[survived]}" -eq 0 ] && [ "${tally[not found]}" -eq 0 ]
