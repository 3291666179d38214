#!/usr/bin/env bash
# Benchmarks Ombrik against reference tools on loopback and writes bench/RESULTS.md.
#
#   bash bench/run.sh [RUNS]      RUNS measured runs of each side (default 7)
#
# Builds in release mode (build-bench/), starts the loopback album service (HTTPS) and nginx
# (HTTP, a temporary configuration) serving generated files, with the album service's play
# addresses pointing at nginx; runs each benchmark and its reference alternately; prints the
# table and writes it to bench/RESULTS.md. The generated files (1 GiB + 500 x 256 KiB) are
# kept in build-bench/bench-data for later runs; OMBRIK_BENCH_DATA names another place.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-7}
build=$root/build-bench
data=${OMBRIK_BENCH_DATA:-$build/bench-data}

bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DOMBRIK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target ombrik-cli ombrik-album-service ombrik-bench-measure \
  ombrik-bench-window ombrik_extraction_bench ombrik_json_bench

cli=$build/src/cli/ombrik-cli
service=$build/tools/album_service/ombrik-album-service
measure=$build/bench/ombrik-bench-measure
window=$build/bench/ombrik-bench-window

tmp=$(mktemp -d /tmp/ombrik-bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# ---- the served files ---------------------------------------------------------------------
# Play addresses are <origin>/audio/<album>/<n>.wav: album 1000001 holds the 1 GiB file,
# album 1000500 the 500 small ones.
echo "bench: files in $data"
mkdir -p "$data/audio/1000001" "$data/audio/1000500"
big=$data/audio/1000001/1.wav
if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" != 1073741824 ]; then
  head -c 1073741824 /dev/urandom >"$big.tmp" && mv "$big.tmp" "$big"
fi
if [ ! -f "$data/audio/1000500/500.wav" ]; then
  for n in $(seq 1 500); do head -c 262144 /dev/urandom >"$data/audio/1000500/$n.wav"; done
fi
chmod -R a+rX "$data"

# ---- nginx on a free loopback port ----------------------------------------------------------
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
mkdir -p "$tmp/nginx/logs"
nginx_port=
for port in $(seq 18480 18580); do
  port_free "$port" || continue
  cat >"$tmp/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/logs/error.log warn;
user $(id -un) $(id -gn);
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  types { audio/wav wav; }
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $data;
  }
}
EOF
  nginx -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" -e "$tmp/nginx/logs/error.log" 2>>"$tmp/nginx/logs/start.log" &
  nginx_pid=$!
  for _ in $(seq 50); do
    if ! port_free "$port"; then nginx_port=$port; break; fi
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$nginx_port" ]; then pids+=("$nginx_pid"); break; fi
  kill "$nginx_pid" 2>/dev/null || true
done
[ -n "$nginx_port" ] || { echo "bench: nginx did not start" >&2; cat "$tmp/nginx/logs/"* >&2; exit 1; }
files=http://127.0.0.1:$nginx_port
echo "bench: nginx at $files"

# ---- the album service (HTTPS), play addresses on nginx -------------------------------------
"$service" --only https --play-origin "$files" >"$tmp/service.out" 2>"$tmp/service.log" &
pids+=("$!")
for _ in $(seq 100); do [ -s "$tmp/service.out" ] && break; sleep 0.05; done
api=$(head -n1 "$tmp/service.out")
[ -n "$api" ] || { echo "bench: the album service did not start" >&2; exit 1; }
echo "bench: album service at $api"
export OMBRIK_API_ORIGIN=$api

out=$tmp/out
clean_out="rm -rf $out && mkdir -p $out"

# The page requests of one run, taken from the service's log, become the reference's URL list.
page_requests() { grep -c '^GET /m-revision/' "$tmp/service.log" || true; }
before=$(page_requests)
"$cli" list 1010000 -q >"$tmp/list.txt"
after=$(page_requests)
extract_requests=$((after - before))
rows=$(wc -l <"$tmp/list.txt")
sed -n "$((before + 1)),${after}p" "$tmp/service.log" | grep '^GET /m-revision/' |
  awk -v o="$api" '{ print "url = \"" o $2 "\"\noutput = \"/dev/null\"" }' >"$tmp/extract.curl"
for n in $(seq 1 500); do
  printf 'url = "%s/audio/1000500/%d.wav"\noutput = "%s/%d.wav"\n' "$files" "$n" "$out" "$n"
done >"$tmp/many.curl"
echo "bench: extraction of album 1010000: $rows rows, $extract_requests requests"

# Sanity: both sides fetch the same bytes.
rm -rf "$out" && mkdir -p "$out"
"$cli" get 1000500 -o "$out" -q
cmp -s "$out"/*第1首.wav "$data/audio/1000500/1.wav" ||
  { echo "bench: a downloaded file differs from the served one" >&2; exit 1; }

results=()
# measure NAME SETUP OMBRIK_COMMAND REFERENCE_COMMAND
measure() {
  local name=$1
  echo "bench: $name ($runs runs each)"
  local lines
  lines=$("$measure" "$runs" "$2" "$3" "$4")
  sed 's/^/  /' <<<"$lines"
  results+=("$name|$(sed -n 1p <<<"$lines")|$(sed -n 2p <<<"$lines")")
}

measure extract "" "$cli list 1010000 -q >/dev/null" "curl -sk --config $tmp/extract.curl"
measure window "" "env QT_QPA_PLATFORM=offscreen $window 1010000 2>/dev/null" \
  "$cli list 1010000 -q >/dev/null"
measure big "$clean_out" "$cli get 1000001 -o $out -q" "curl -s -o $out/1.wav $files/audio/1000001/1.wav"
measure many "$clean_out" "$cli get 1000500 -o $out -q" "curl -s --config $tmp/many.curl"
rm -rf "$out"

echo "bench: CPU per track (Google Benchmark)"
"$build/bench/ombrik_extraction_bench" --benchmark_repetitions="$runs" \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.3 >"$tmp/cpu.txt" 2>/dev/null
# "per_track=12.3456us" -> µs
per_track() {
  grep "^$1_$2 " "$tmp/cpu.txt" | sed -n 's/.*per_track=\([0-9.]*\)\([mun]\)s.*/\1 \2/p' |
    awk '{ f = $2 == "m" ? 1000 : $2 == "n" ? 0.001 : 1; printf "%.2f", $1 * f }'
}

# ---- the table -------------------------------------------------------------------------------
table=$tmp/table.md
{
  echo "| Benchmark | Ombrik (median, min–max) | Reference (median, min–max) | Ratio | Target | Met |"
  echo "|---|---|---|---|---|---|"
  for r in "${results[@]}"; do
    IFS='|' read -r name a b <<<"$r"
    read -r am amin amax arss arssmax afail <<<"$a"
    read -r bm bmin bmax brss brssmax bfail <<<"$b"
    case $name in
      extract)
        awk -v am="$am" -v amin="$amin" -v amax="$amax" -v bm="$bm" -v bmin="$bmin" -v bmax="$bmax" \
          -v req="$extract_requests" -v rows="$rows" -v f="$((afail + bfail))" 'BEGIN {
          r = am / bm
          printf "| Extraction, 10,000-track album (%d requests, %d rows), HTTPS | `ombrik-cli list` %.3f s (%.3f–%.3f) | `curl` same %d URLs, one process: %.3f s (%.3f–%.3f) | %.2f × | ≤ 1.5 × | %s |\n",
            req, rows, am, amin, amax, req, bm, bmin, bmax, r, (r <= 1.5 && f == 0) ? "yes" : "no" }'
        ;;
      window)
        awk -v am="$am" -v amin="$amin" -v amax="$amax" -v bm="$bm" -v bmin="$bmin" -v bmax="$bmax" \
          -v f="$((afail + bfail))" 'BEGIN {
          r = am / bm
          printf "| 10,000 rows into the window (offscreen) | window run %.3f s (%.3f–%.3f) | `ombrik-cli list` %.3f s (%.3f–%.3f) | %.2f × | ≤ 1.5 × | %s |\n",
            am, amin, amax, bm, bmin, bmax, r, (r <= 1.5 && f == 0) ? "yes" : "no" }'
        ;;
      big)
        awk -v am="$am" -v amin="$amin" -v amax="$amax" -v bm="$bm" -v bmin="$bmin" -v bmax="$bmax" \
          -v arss="$arssmax" -v brss="$brssmax" -v f="$((afail + bfail))" 'BEGIN {
          g = 1024; r = bm / am
          printf "| One 1 GiB file, HTTP from nginx | `ombrik-cli get` %.0f MiB/s (%.0f–%.0f), %.2f s; peak RSS %.1f MiB | `curl -o` %.0f MiB/s (%.0f–%.0f), %.2f s; peak RSS %.1f MiB | throughput %.2f × | ≥ 0.9 ×; RSS ≤ 32 MiB | %s |\n",
            g / am, g / amax, g / amin, am, arss / 1024, g / bm, g / bmax, g / bmin, bm, brss / 1024, r,
            (r >= 0.9 && arss <= 32 * 1024 && f == 0) ? "yes" : "no" }'
        ;;
      many)
        awk -v am="$am" -v amin="$amin" -v amax="$amax" -v bm="$bm" -v bmin="$bmin" -v bmax="$bmax" \
          -v f="$((afail + bfail))" 'BEGIN {
          r = am / bm
          printf "| 500 files of 256 KiB, HTTP from nginx | `ombrik-cli get` %.3f s (%.3f–%.3f) | `curl` same 500 URLs, one process: %.3f s (%.3f–%.3f) | %.2f × | ≤ 1.2 × | %s |\n",
            am, amin, amax, bm, bmin, bmax, r, (r <= 1.2 && f == 0) ? "yes" : "no" }'
        ;;
    esac
  done
  cpu=$(per_track ExtractionPerTrack median)
  cpu_sd=$(per_track ExtractionPerTrack stddev)
  awk -v m="$cpu" -v sd="$cpu_sd" -v d="$(per_track DecodeOnly median)" -v p="$(per_track ParseOnly median)" \
    -v g="$(per_track ReadsOnly median)" 'BEGIN {
    printf "| CPU per track: decode + Parse + two GetText + row | %.2f µs (± %.2f); of which decode %.2f, Parse %.2f, reads %.2f | | | ≤ 2.5 µs | %s |\n",
      m, sd, d, p, g, (m <= 2.5) ? "yes" : "no" }'
} >"$table"

cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
mem=$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
{
  echo "# Benchmark results"
  echo
  echo "Last run of \`bash bench/run.sh\`: $(date -u '+%Y-%m-%d %H:%M UTC'), $runs runs of each side, alternating."
  echo
  echo "Machine: $(uname -srm); $cpu_model, $(nproc) cores, $mem; $(curl --version | head -n1 | cut -d' ' -f1-2); $(nginx -v 2>&1 | sed 's/.*: //')."
  echo
  echo "Servers on loopback: the album service over HTTPS for the pages, nginx over HTTP for the files."
  echo "Times are wall times of whole processes (start to exit); peak RSS is the process's maximum resident set."
  echo
  cat "$table"
  echo
  echo "Profiles, changes and the targets missed: bench/NOTES.md."
} >"$root/bench/RESULTS.md"

echo
cat "$table"
echo
echo "bench: written to bench/RESULTS.md"
