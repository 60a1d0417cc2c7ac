#!/bin/sh
# Requests per second for a small file over kept-alive connections on
# 127.0.0.1: hly-serve (the engine's HTTP server, Release build) against
# nginx with one worker process, measured with wrk in one run.
#
#   bench/http-bench.sh [SECONDS] [CONNECTIONS]
#
# Defaults: 10 seconds, 32 connections, 2 wrk threads, a 1 KiB file.
# Installs wrk and nginx-light when they are missing. Loopback only; every
# process it starts is stopped before it exits.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
duration=${1:-10}
connections=${2:-32}
build_dir=${BENCH_BUILD_DIR:-$root/build-release}

"$root/scripts/install-deps" wrk nginx-light >&2
nginx=$(command -v nginx || echo /usr/sbin/nginx)

echo "building hly-serve (Release) in $build_dir" >&2
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DBEACONRY_BUILD_APP=OFF -DBEACONRY_BUILD_TESTS=OFF >/dev/null
flock /tmp/beaconry-build.lock cmake --build "$build_dir" -j2 --target hly-serve >/dev/null

dir=$(mktemp -d /tmp/http-bench.XXXXXX)
serve_pid=""
nginx_pid=""
cleanup() {
  for p in $serve_pid $nginx_pid; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT INT TERM

mkdir -p "$dir/www" "$dir/tmp"
head -c 1024 /dev/urandom > "$dir/www/small.bin"
chmod -R a+rX "$dir"

# the port a listener got, once it answers
wait_ready() {
  tries=0
  while [ $tries -lt 100 ]; do
    if wrk -t1 -c1 -d1s "http://127.0.0.1:$1/small.bin" 2>/dev/null | grep -q "Requests/sec"; then return 0; fi
    sleep 0.1
    tries=$((tries + 1))
  done
  echo "server on port $1 does not answer" >&2
  return 1
}

# hly-serve picks a free port from 1024 to 2047 and prints it
"$build_dir/tools/hly-serve" "$dir/www" --port 0 > "$dir/serve.out" 2>&1 &
serve_pid=$!
tries=0
while ! grep -q "serving" "$dir/serve.out" && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
serve_port=$(sed -n 's/^serving .* at http:\/\/[0-9.]*:\([0-9]*\)\/$/\1/p' "$dir/serve.out")
[ -n "$serve_port" ] || { cat "$dir/serve.out" >&2; exit 1; }
wait_ready "$serve_port"

user_line=""
if [ "$(id -u)" = 0 ]; then user_line="user root root;"; fi
start_nginx() {
  cat > "$dir/nginx.conf" <<EOF
$user_line
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  types { application/octet-stream bin; }
  sendfile on;
  keepalive_requests 1000000;
  keepalive_timeout 60;
  server {
    listen 127.0.0.1:$1;
    root $dir/www;
  }
}
EOF
  "$nginx" -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" > "$dir/nginx.out" 2>&1 &
  nginx_pid=$!
  sleep 0.3
  if kill -0 "$nginx_pid" 2>/dev/null; then return 0; fi
  wait "$nginx_pid" 2>/dev/null || true
  nginx_pid=""
  return 1
}
nginx_port=""
for candidate in 28080 28081 28082 28083 28084 28085 28086 28087; do
  if start_nginx "$candidate"; then nginx_port=$candidate; break; fi
done
[ -n "$nginx_port" ] || { echo "nginx could not start" >&2; cat "$dir/error.log" >&2; exit 1; }
wait_ready "$nginx_port"

measure() {
  wrk -t2 -c"$connections" -d"${duration}s" "http://127.0.0.1:$1/small.bin" > "$dir/wrk.out"
  rate=$(sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' "$dir/wrk.out")
  errors=$(grep -E "Non-2xx|Socket errors" "$dir/wrk.out" || true)
  [ -z "$errors" ] || echo "$2: $errors" >&2
  echo "$rate"
}

echo "wrk -t2 -c$connections -d${duration}s, 1 KiB file, keep-alive, 127.0.0.1" >&2
serve_rate=$(measure "$serve_port" hly-serve)
nginx_rate=$(measure "$nginx_port" nginx)
ratio=$(awk -v a="$serve_rate" -v b="$nginx_rate" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }')

echo "hly-serve: $serve_rate requests/s"
echo "nginx (1 worker): $nginx_rate requests/s"
echo "ratio hly-serve/nginx: $ratio (target: at least 0.50)"
