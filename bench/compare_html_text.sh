#!/usr/bin/env bash
# Compares HTML2Text with Debian's html2text and lynx -dump on the same generated pages.
#
#   bench/compare_html_text.sh [BUILD_DIR]
#
# BUILD_DIR (default: build-release) holds an optimised build of bench_html_text:
#   cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSERA_BUILD_BENCH=ON
#   cmake --build build-release --target bench_html_text
# DOCUMENTS sets the number of pages (default 200, about 20 KB each), RUNS the number of timed
# runs per figure (default 3, the best is shown). A tool that is not installed is skipped.
set -euo pipefail

build_dir=${1:-${BUILD_DIR:-build-release}}
documents=${DOCUMENTS:-200}
runs=${RUNS:-3}
bench="$build_dir/bench/bench_html_text"
if [[ ! -x $bench ]]; then
  echo "missing $bench: build the target bench_html_text first" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/pages"
"$bench" --write-corpus="$work/pages" --documents="$documents"
pages=("$work"/pages/*.html)
cat "${pages[@]}" >"$work/all.html"
bytes=$(stat -c %s "$work/all.html")

now() { date +%s.%N; }

# Best wall-clock seconds of $runs runs of the given shell function.
best_of() {
  local best="" start end seconds
  for ((run = 0; run < runs; run++)); do
    start=$(now)
    "$@"
    end=$(now)
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')
    if [[ -z $best ]] || awk -v s="$seconds" -v b="$best" 'BEGIN { exit !(s < b) }'; then
      best=$seconds
    fi
  done
  echo "$best"
}

report() {  # label seconds
  awk -v label="$1" -v s="$2" -v b="$bytes" \
    'BEGIN { printf "  %-44s %8.3f s %9.2f MB/s\n", label, s, b / 1e6 / s }'
}

all_pages() { "$@" "${pages[@]}" >/dev/null 2>&1 || true; }
each_page() { for page in "${pages[@]}"; do "$@" "$page" >/dev/null 2>&1 || true; done; }
one_file() { "$@" "$work/all.html" >/dev/null 2>&1 || true; }

echo "Corpus: ${#pages[@]} generated pages, $bytes bytes (MB = 10^6 bytes); best of $runs runs"
echo
echo "In process (Google Benchmark; bytes_per_second in MiB/s of CPU time):"
"$bench" --benchmark_filter='^BM_(HTML2Text|CleanUp|RenderVisibleText)$' \
  --benchmark_min_time=2 2>/dev/null | grep '^BM_' | sed 's/^/  /'
echo
echo "Wall clock, one process for all pages:"
report "HTML2Text (bench_html_text --render-files)" "$(best_of all_pages "$bench" --render-files)"
echo
echo "Wall clock, one process per page (start-up included):"
report "HTML2Text (bench_html_text --render-files)" "$(best_of each_page "$bench" --render-files)"
declare -A tools=([html2text]="html2text -utf8" [lynx]="lynx -dump")
for tool in html2text lynx; do
  if command -v "$tool" >/dev/null; then
    # shellcheck disable=SC2086
    report "${tools[$tool]}" "$(best_of each_page ${tools[$tool]})"
  else
    echo "  $tool: not installed, skipped (apt-get install $tool)"
  fi
done
echo
echo "Wall clock, all pages concatenated into one file, one process:"
report "HTML2Text (bench_html_text --render-files)" \
  "$(best_of one_file "$bench" --render-files)"
for tool in html2text lynx; do
  if command -v "$tool" >/dev/null; then
    # shellcheck disable=SC2086
    report "${tools[$tool]}" "$(best_of one_file ${tools[$tool]})"
  else
    echo "  $tool: not installed, skipped (apt-get install $tool)"
  fi
done
