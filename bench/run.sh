#!/usr/bin/env bash
# Benchmarks Ombrik against reference tools on loopback and writes bench/RESULTS.md.
#
#   bash bench/run.sh [RUNS [SLOW_RUNS]]
#
# RUNS measured runs of each side (default 7); SLOW_RUNS (default RUNS) for the slow ones: the
# rate-limited album with -j 1 (~50 s a run) and the cut-and-resumed 1 GiB file.
#
# Builds in release mode (build-bench/), starts the loopback album service (HTTPS) and nginx
# (HTTP, a temporary configuration) serving generated files, with the album service's play
# addresses pointing at nginx; runs each benchmark and its reference alternately; prints the
# table and writes it to bench/RESULTS.md. nginx has three servers: one at full speed, one
# that sends each answer at 2 MiB/s (48 x 2 MiB tracks, for concurrent downloads) and logs the
# body bytes it sends (for the resumed file), and one that serves saved page answers. A second
# album service points its play addresses at the limited server; a third delays every page
# answer by 20 ms. The generated files (1 GiB + 500 x 256 KiB + 48 x 2 MiB)
# are kept in build-bench/bench-data for later runs; OMBRIK_BENCH_DATA names another place.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-7}
slow_runs=${2:-$runs}
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

# ---- nginx on three free loopback ports ----------------------------------------------------
# PORT: every file at full speed. PORT+1 ("limited"): the 48 tracks of the concurrent
# benchmark (its own root, $data/limited) at 2 MiB/s per answer, as a slow link gives each
# connection, and the 1 GiB file at full speed for its first half, then slowly, so that the
# resume benchmark can cut it close to 512 MiB. It logs the body bytes of each answer.
# nginx's limit_rate R lets an answer have R x (whole seconds since its start + 1) bytes: one
# second's worth at once. At "2m" a 2 MiB track would go out in one burst in ~3 ms and no
# connection would ever wait; "1m" sends 1 MiB at once and the second MiB one second later,
# so each 2 MiB track takes 1.0 s on its connection, as on a link of 2 MiB/s.
# PORT+2 ("pages"): the album service's page answers, saved once as files ($tmp/pages), so
# that a listing over it costs neither TLS nor the service's work and the client's CPU shows.
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
mkdir -p "$tmp/nginx/logs"
nginx_port=
for port in $(seq 18480 3 18580); do
  port_free "$port" && port_free "$((port + 1))" && port_free "$((port + 2))" || continue
  cat >"$tmp/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/logs/error.log warn;
user $(id -un) $(id -gn);
events { worker_connections 64; }
http {
  access_log off;
  log_format sent '\$request_uri \$status \$body_bytes_sent "\$http_range"';
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
  server {
    listen 127.0.0.1:$((port + 1));
    root $data/limited;
    access_log $tmp/nginx/logs/limited.log sent;
    limit_rate 1m;
    location /audio/1000001/ {
      root $data;
      # With the allowance above, 4 MiB/s past the half keeps the overshoot before the
      # kill within ~8 MiB.
      limit_rate_after 512m;
      limit_rate 4m;
    }
  }
  server {
    listen 127.0.0.1:$((port + 2));
    root $tmp;
    location / {
      default_type application/json;
      try_files /pages/\$arg_albumId-\$arg_page-\$arg_pageSize.json =404;
    }
  }
}
EOF
  nginx -p "$tmp/nginx" -c "$tmp/nginx/nginx.conf" -e "$tmp/nginx/logs/error.log" 2>>"$tmp/nginx/logs/start.log" &
  nginx_pid=$!
  for _ in $(seq 50); do
    if ! port_free "$port" && ! port_free "$((port + 1))" && ! port_free "$((port + 2))"; then
      nginx_port=$port
      break
    fi
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$nginx_port" ]; then pids+=("$nginx_pid"); break; fi
  kill "$nginx_pid" 2>/dev/null || true
done
[ -n "$nginx_port" ] || { echo "bench: nginx did not start" >&2; cat "$tmp/nginx/logs/"* >&2; exit 1; }
files=http://127.0.0.1:$nginx_port
limited=http://127.0.0.1:$((nginx_port + 1))
pages=http://127.0.0.1:$((nginx_port + 2))
echo "bench: nginx at $files, limited at $limited, pages at $pages"

# ---- the album services (HTTPS), play addresses on nginx ------------------------------------
# start_service VARIABLE PLAY_ORIGIN NAME [OPTION...]: sets VARIABLE to the service's origin.
start_service() {
  "$service" --only https --play-origin "$2" --cert-out "$tmp/$3.pem" "${@:4}" >"$tmp/$3.out" 2>"$tmp/$3.log" &
  pids+=("$!")
  for _ in $(seq 100); do [ -s "$tmp/$3.out" ] && break; sleep 0.05; done
  local origin
  origin=$(head -n1 "$tmp/$3.out")
  [ -n "$origin" ] || { echo "bench: the album service ($3) did not start" >&2; exit 1; }
  printf -v "$1" %s "$origin"
}
start_service api "$files" service
start_service limited_api "$limited" limited-service
start_service delayed_api "$files" delayed-service --answer-delay-ms 20
echo "bench: album service at $api; with play addresses on the limited server at $limited_api;" \
  "delaying every page answer 20 ms at $delayed_api"
export OMBRIK_API_ORIGIN=$api
# Ombrik checks certificates: it trusts the services' own, as a bundle; so does curl.
cat "$tmp/service.pem" "$tmp/limited-service.pem" "$tmp/delayed-service.pem" >"$tmp/ca.pem"
export OMBRIK_CA_FILE=$tmp/ca.pem

out=$tmp/out
clean_out="rm -rf $out && mkdir -p $out"

# The page requests of one listing, taken from the service's log, become the reference's URL
# list: page_paths ALBUM OUTPUT lists the album and writes the request paths, one a line.
page_paths() {
  local before after
  before=$(wc -l <"$tmp/service.log")
  "$cli" list "$1" -q >"$2.list"
  after=$(wc -l <"$tmp/service.log")
  sed -n "$((before + 1)),${after}p" "$tmp/service.log" | awk '$1 == "GET" && $2 ~ /^\/m-revision\// { print $2 }' >"$2"
}
# curl_config ORIGIN PATHS: a curl configuration that fetches each path from ORIGIN.
curl_config() { awk -v o="$1" '{ print "url = \"" o $0 "\"\noutput = \"/dev/null\"" }' "$2"; }
page_paths 1010000 "$tmp/extract.paths"
cp "$tmp/extract.paths.list" "$tmp/list.txt"
extract_requests=$(wc -l <"$tmp/extract.paths")
rows=$(wc -l <"$tmp/list.txt")
curl_config "$api" "$tmp/extract.paths" >"$tmp/extract.curl"
curl_config "$delayed_api" "$tmp/extract.paths" >"$tmp/delayed.curl"
curl_config "$pages" "$tmp/extract.paths" >"$tmp/pages.curl"
# The same answers as files for nginx, named by the query as its try_files expects; the
# listing over them must give the same rows.
mkdir -p "$tmp/pages"
while read -r path; do
  query=${path#*\?}
  declare -A arg=()
  for pair in ${query//&/ }; do arg[${pair%%=*}]=${pair#*=}; done
  curl -sf --cacert "$tmp/ca.pem" -o "$tmp/pages/${arg[albumId]}-${arg[page]}-${arg[pageSize]}.json" "$api$path" ||
    { echo "bench: could not save the page $path" >&2; exit 1; }
  unset arg
done <"$tmp/extract.paths"
chmod -R a+rX "$tmp/pages"
"$cli" list 1010000 -q --api-origin "$pages" >"$tmp/pages-list.txt"
cmp -s "$tmp/list.txt" "$tmp/pages-list.txt" ||
  { echo "bench: the listing over the saved pages differs from the service's" >&2; exit 1; }
page_paths 1100000 "$tmp/huge.paths"
huge_rows=$(wc -l <"$tmp/huge.paths.list")
huge_requests=$(wc -l <"$tmp/huge.paths")
curl_config "$api" "$tmp/huge.paths" >"$tmp/huge.curl"
for n in $(seq 1 500); do
  printf 'url = "%s/audio/1000500/%d.wav"\noutput = "%s/%d.wav"\n' "$files" "$n" "$out" "$n"
done >"$tmp/many.curl"
echo "bench: extraction of album 1010000: $rows rows, $extract_requests requests;" \
  "album 1100000: $huge_rows rows, $huge_requests requests"

# Sanity: both sides fetch the same bytes.
rm -rf "$out" && mkdir -p "$out"
"$cli" get 1000500 -o "$out" -q
cmp -s "$out"/*第1首.wav "$data/audio/1000500/1.wav" ||
  { echo "bench: a downloaded file differs from the served one" >&2; exit 1; }

# ---- the 48 limited tracks: album 1000500 at list positions 1-48, on the limited server ------
"$cli" list 1000500 --items 1-48 --api-origin "$limited_api" -q >"$tmp/limited-list.txt"
awk -F'\t' '{ print $3 }' "$tmp/limited-list.txt" >"$tmp/limited-urls.txt"
[ "$(wc -l <"$tmp/limited-urls.txt")" = 48 ] ||
  { echo "bench: album 1000500 --items 1-48 did not list 48 tracks" >&2; exit 1; }
while read -r url; do
  file=$data/limited${url#"$limited"}
  if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != 2097152 ]; then
    mkdir -p "$(dirname "$file")"
    head -c 2097152 /dev/urandom >"$file"
  fi
  name=$(basename "$url")
  printf '%s\n  out=%s\n' "$url" "$name" >>"$tmp/limited.aria2"
  printf 'url = "%s"\noutput = "%s/%s"\n' "$url" "$out" "$name" >>"$tmp/limited.curl"
done <"$tmp/limited-urls.txt"
chmod -R a+rX "$data/limited"
limited_get="$cli get 1000500 --items 1-48 --api-origin $limited_api -o $out -q"
# One connection per file (-x 1), eight files at once; a clean folder each run, so no control
# files or renamed copies are left between runs.
aria2="aria2c -q -j 8 -x 1 --allow-overwrite=true --auto-file-renaming=false -d $out -i $tmp/limited.aria2"

declare -A measured
# measure NAME RUNS SETUP OMBRIK_COMMAND REFERENCE_COMMAND
measure() {
  local name=$1
  echo "bench: $name ($2 runs each)"
  local lines
  lines=$("$measure" "$2" "$3" "$4" "$5")
  sed 's/^/  /' <<<"$lines"
  measured[$name]="$(sed -n 1p <<<"$lines")|$(sed -n 2p <<<"$lines")"
}

curl_pages="curl -sf --cacert $tmp/ca.pem --config"
measure extract "$runs" "" "$cli list 1010000 -q >/dev/null" "$curl_pages $tmp/extract.curl"
measure extract-files "$runs" "" "$cli list 1010000 -q --api-origin $pages >/dev/null" \
  "$curl_pages $tmp/pages.curl"
delayed_list="$cli list 1010000 -q --api-origin $delayed_api >/dev/null"
measure extract-delayed-serial "$runs" "" "$delayed_list" "$curl_pages $tmp/delayed.curl"
measure extract-delayed-parallel "$runs" "" "$delayed_list" \
  "$curl_pages $tmp/delayed.curl -Z --parallel-max 4 2>/dev/null"
measure huge "$runs" "" "$cli list 1100000 >/dev/null" "$curl_pages $tmp/huge.curl"
measure window "$runs" "" "env QT_QPA_PLATFORM=offscreen $window 1010000 2>/dev/null" \
  "$cli list 1010000 -q >/dev/null"
for j in 1 8; do
  measure "big-j$j" "$runs" "$clean_out" "$cli get 1000001 -j $j -o $out -q" \
    "curl -s -o $out/1.wav $files/audio/1000001/1.wav"
  measure "many-j$j" "$runs" "$clean_out" "$cli get 1000500 -j $j -o $out -q" \
    "curl -s --config $tmp/many.curl"
done
measure limited-aria2 "$runs" "$clean_out" "$limited_get -j 8" "$aria2"
# curl draws its parallel progress meter even with -s; its exit status still tells failures.
measure limited-curl "$runs" "$clean_out" "$limited_get -j 8" \
  "curl -sf -Z --parallel-max 8 --config $tmp/limited.curl 2>/dev/null"
measure limited-j1 "$slow_runs" "$clean_out" "$limited_get -j 8" "$limited_get -j 1"

# ---- the 1 GiB file cut at half, then resumed ------------------------------------------------
# Each run: ombrik-cli fetches album 1000001 from the limited server and is killed (SIGKILL)
# once its part file holds half the file; a second ombrik-cli finishes it. nginx's log tells
# the body bytes sent to the second run.
half=536870912
gib=1073741824
access_log=$tmp/nginx/logs/limited.log
big_log_lines() { grep -c '^/audio/1000001/' "$access_log" || true; }
part_size() {
  local size=0 f
  for f in "$out"/*.part; do [ -f "$f" ] && size=$(stat -c %s "$f"); done
  echo "$size"
}
resumed=()  # "<bytes sent to the second run> <part bytes at the kill> <second run s>"
echo "bench: resume ($slow_runs runs)"
for _ in $(seq "$slow_runs"); do
  rm -rf "$out" && mkdir -p "$out"
  logged=$(big_log_lines)
  "$cli" get 1000001 -o "$out" -q --api-origin "$limited_api" &
  first=$!
  for _ in $(seq 6000); do  # 60 s at most
    [ "$(part_size)" -ge "$half" ] && break
    sleep 0.01
  done
  kill -KILL "$first" 2>/dev/null || true
  wait "$first" 2>/dev/null || true
  cut_at=$(part_size)
  [ "$cut_at" -ge "$half" ] && [ "$cut_at" -lt "$gib" ] ||
    { echo "bench: the first run was not cut between half and the end ($cut_at bytes)" >&2; exit 1; }
  # nginx logs the cut answer once it sees the connection closed; wait for that line, so that
  # it is not counted as the second run's.
  for _ in $(seq 100); do [ "$(big_log_lines)" -gt "$logged" ] && break; sleep 0.05; done
  logged=$(wc -l <"$access_log")
  start=$(date +%s.%N)
  "$cli" get 1000001 -o "$out" -q --api-origin "$limited_api" ||
    { echo "bench: the resuming run failed" >&2; exit 1; }
  end=$(date +%s.%N)
  sent=$(tail -n +"$((logged + 1))" "$access_log" |
    awk '$1 ~ /^\/audio\/1000001\// { s += $3 } END { printf "%d", s }')
  cmp -s "$out"/*第1首.wav "$data/audio/1000001/1.wav" ||
    { echo "bench: the resumed file differs from the served one" >&2; exit 1; }
  [ "$(part_size)" = 0 ] || { echo "bench: a part file was left behind" >&2; exit 1; }
  resumed+=("$sent $cut_at $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
  echo "  second run: $sent bytes sent after a cut at $cut_at bytes"
done
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
# time_row NAME TITLE OMBRIK_LABEL REFERENCE_LABEL KIND LIMIT TARGET
# KIND "time": the ratio is Ombrik's time over the reference's, met at <= LIMIT; "speedup": the
# reference's time over Ombrik's, met at >= LIMIT. An empty LIMIT: no target, only the figure.
time_row() {
  local a b
  IFS='|' read -r a b <<<"${measured[$1]}"
  awk -v title="$2" -v al="$3" -v bl="$4" -v kind="$5" -v lim="$6" -v tgt="$7" -v a="$a" -v b="$b" 'BEGIN {
    split(a, A, " "); split(b, B, " ")
    r = kind == "speedup" ? B[1] / A[1] : A[1] / B[1]
    failed = A[6] + B[6]
    met = lim == "" ? (failed ? "failed runs" : "—") \
        : (!failed && (kind == "speedup" ? r >= lim + 0 : r <= lim + 0)) ? "yes" : "no"
    printf "| %s | %s %.3f s (%.3f–%.3f) | %s %.3f s (%.3f–%.3f) | %.2f ×%s | %s | %s |\n",
      title, al, A[1], A[2], A[3], bl, B[1], B[2], B[3], r, kind == "speedup" ? " faster" : "", tgt, met }'
}

# big_row NAME JOBS: the 1 GiB file as throughput and peak memory.
big_row() {
  local a b
  IFS='|' read -r a b <<<"${measured[$1]}"
  awk -v j="$2" -v a="$a" -v b="$b" 'BEGIN {
    split(a, A, " "); split(b, B, " ")
    g = 1024; r = B[1] / A[1]
    printf "| One 1 GiB file, HTTP from nginx, `-j %d` | `ombrik-cli get` %.0f MiB/s (%.0f–%.0f), %.2f s; peak RSS %.1f MiB | `curl -o` %.0f MiB/s (%.0f–%.0f), %.2f s; peak RSS %.1f MiB | throughput %.2f × | ≥ 0.9 ×; RSS ≤ 32 MiB | %s |\n",
      j, g / A[1], g / A[3], g / A[2], A[1], A[5] / 1024, g / B[1], g / B[3], g / B[2], B[1], B[5] / 1024, r,
      (r >= 0.9 && A[5] <= 32 * 1024 && A[6] + B[6] == 0) ? "yes" : "no" }'
}

# The 100,000-track album: peak RSS, met on the largest of the runs; the time is only a figure.
huge_row() {
  local a b
  IFS='|' read -r a b <<<"${measured[huge]}"
  awk -v rows="$huge_rows" -v req="$huge_requests" -v a="$a" -v b="$b" 'BEGIN {
    split(a, A, " "); split(b, B, " ")
    printf "| Listing a 100,000-track album (%d requests, %d rows), HTTPS | `ombrik-cli list` peak RSS %.1f MiB (largest %.1f); %.3f s (%.3f–%.3f) | `curl` same %d URLs, one process: peak RSS %.1f MiB; %.3f s (%.3f–%.3f) | time %.2f × | peak RSS ≤ 64 MiB | %s |\n",
      req, rows, A[4] / 1024, A[5] / 1024, A[1], A[2], A[3], req, B[4] / 1024, B[1], B[2], B[3], A[1] / B[1],
      (A[5] <= 64 * 1024 && A[6] + B[6] == 0) ? "yes" : "no" }'
}

# The resumed runs, one "<sent> <cut at> <seconds>" per line, as median and range.
resume_row() {
  printf '%s\n' "${resumed[@]}" | awk -v gib="$gib" '
    function median(v, n,   i, j, t) {
      for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    { n++; sent[n] = $1 / gib * 100; cut[n] = $2 / 1048576; secs[n] = $3; extra[n] = $1 - (gib - $2) }
    END {
      ms = median(sent, n); mc = median(cut, n); mt = median(secs, n); me = median(extra, n)
      printf "| One 1 GiB file cut at half (SIGKILL once the part file holds 512 MiB), then resumed; body bytes counted in nginx'"'"'s log; result equal to the source (cmp) | second run: %.2f %% of the file (%.2f–%.2f), %.2f s (%.2f–%.2f) | part file at the kill: %.1f MiB (%.1f–%.1f); sent beyond the missing bytes: %d B (%d–%d) | %.2f %% of the file | ≤ 52 %% | %s |\n",
        ms, sent[1], sent[n], mt, secs[1], secs[n], mc, cut[1], cut[n], me, extra[1], extra[n], ms,
        sent[n] <= 52 ? "yes" : "no"
    }'
}

table=$tmp/table.md
limited_title="48 tracks of 2 MiB, nginx at 2 MiB/s per connection"
{
  echo "| Benchmark | Ombrik (median, min–max) | Reference (median, min–max) | Ratio | Target | Met |"
  echo "|---|---|---|---|---|---|"
  time_row extract "Extraction, 10,000-track album ($extract_requests requests, $rows rows), HTTPS" \
    '`ombrik-cli list`' "\`curl\` same $extract_requests URLs, one process:" time 1.3 "≤ 1.3 ×"
  time_row extract-files "Extraction, the same pages as files from nginx, HTTP" \
    '`ombrik-cli list`' "\`curl\` same $extract_requests URLs, one process:" time 2.5 "≤ 2.5 ×"
  time_row extract-delayed-serial "Extraction, album service delaying every page answer 20 ms, HTTPS" \
    '`ombrik-cli list`' "\`curl\` same $extract_requests URLs one after the other:" time 0.35 "≤ 0.35 ×"
  time_row extract-delayed-parallel "Extraction, album service delaying every page answer 20 ms, HTTPS" \
    '`ombrik-cli list`' "\`curl -Z --parallel-max 4\` same $extract_requests URLs:" time 1.3 "≤ 1.3 ×"
  huge_row
  time_row window "10,000 rows into the window (offscreen)" "window run" '`ombrik-cli list`' time 1.5 "≤ 1.5 ×"
  for j in 1 8; do big_row "big-j$j" "$j"; done
  for j in 1 8; do
    time_row "many-j$j" "500 files of 256 KiB, HTTP from nginx, \`-j $j\`" '`ombrik-cli get`' \
      '`curl` same 500 URLs, one process:' time 1.2 "≤ 1.2 ×"
  done
  time_row limited-aria2 "$limited_title" '`ombrik-cli get -j 8`' \
    '`aria2c -j 8 -x 1`, same 48 URLs:' time 1.1 "≤ 1.1 ×"
  time_row limited-curl "$limited_title" '`ombrik-cli get -j 8`' \
    '`curl -Z --parallel-max 8`, same 48 URLs:' time "" "(none)"
  time_row limited-j1 "$limited_title" '`ombrik-cli get -j 8`' '`ombrik-cli get -j 1`' speedup 6 \
    "-j 8 ≥ 6 × faster"
  resume_row
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
  echo "Last run of \`bash bench/run.sh\`: $(date -u '+%Y-%m-%d %H:%M UTC'), $runs runs of each side, alternating ($slow_runs of the slow ones: \`-j 1\` on the limited tracks, and the resumed file)."
  echo
  echo "Machine: $(uname -srm); $cpu_model, $(nproc) cores, $mem; $(curl --version | head -n1 | cut -d' ' -f1-2); $(nginx -v 2>&1 | sed 's/.*: //'); $(aria2c --version | head -n1 | sed 's/ version / /')."
  echo
  echo "Servers on loopback: the album service over HTTPS for the pages, nginx over HTTP for the files;"
  echo "the 48 tracks and the resumed file from a second nginx server that holds each answer to 2 MiB/s"
  echo "(\`limit_rate 1m\`, which with nginx's one-second allowance gives each 2 MiB track 1.0 s; the 1 GiB"
  echo "file at full speed up to 512 MiB, then 4 MiB/s, so that the cut lands close to half)."
  echo "For the listing over files, the album service's answers for album 1010000 are saved once and"
  echo "served by nginx over HTTP (\`try_files\` on the query); the delayed album service is a separate"
  echo "instance started with \`--answer-delay-ms 20\`. Every curl reference trusts the services' certificates."
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
