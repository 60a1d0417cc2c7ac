#!/bin/sh
# Fetches through hly-fetch from a real nginx on 127.0.0.1 and compares the
# bytes with the originals: a small file, a large random file, a chunked
# answer (SSI output has no length known in advance), redirects and the
# absolute-form request of an http_proxy taken from the environment.
#
#   nginx-fetch.sh PATH-TO-HLY-FETCH
#
# Exits 77 (skipped) when nginx is not installed or cannot be started.
set -u

fetch=${1:?usage: nginx-fetch.sh PATH-TO-HLY-FETCH}
nginx=${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}
if [ ! -x "$nginx" ]; then
  echo "nginx not found: skipped"
  exit 77
fi

# the directories of runs that were killed outright (no trap runs then)
for old in /tmp/nginx-fetch.*; do
  [ -f "$old/owner" ] || continue
  kill -0 "$(cat "$old/owner")" 2>/dev/null || rm -rf "$old"
done
dir=$(mktemp -d /tmp/nginx-fetch.XXXXXX)
echo $$ > "$dir/owner"
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
# a trap on a signal alone would clean up and then carry on
trap 'exit 130' INT
trap 'exit 143' TERM
[ -n "${KEEP_NGINX_DEBUG:-}" ] && set -x

mkdir -p "$dir/www/ssi" "$dir/tmp"
printf 'small file for hly-fetch\n' > "$dir/www/small.txt"
head -c 5000000 /dev/urandom > "$dir/www/large.bin"
printf 'part-%04d\n' $(seq 1 2000) > "$dir/www/ssi/part.txt"
printf 'before\n<!--# include file="part.txt" -->after\n' > "$dir/www/ssi/page.shtml"
{ printf 'before\n'; cat "$dir/www/ssi/part.txt"; printf 'after\n'; } > "$dir/expected-page.txt"
# nginx workers drop to another user when started by root: they must read the tree
chmod -R a+rX "$dir"

user_line=""
if [ "$(id -u)" = 0 ]; then user_line="user root root;"; fi

start_nginx() {
  port=$1
  cat > "$dir/nginx.conf" <<EOF
$user_line
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
  access_log $dir/access.log;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  types { text/plain txt; text/html shtml; application/octet-stream bin; }
  gzip off;
  chunked_transfer_encoding on;
  keepalive_timeout 10;
  server {
    listen 127.0.0.1:$port;
    server_name localhost;
    root $dir/www;
    location /ssi/ { ssi on; }
    location = /moved { return 301 /small.txt; }
    location = /moved-relative { absolute_redirect off; return 302 /large.bin; }
  }
}
EOF
  "$nginx" -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" >"$dir/nginx.out" 2>&1 &
  pid=$!
  # ready once it serves; gone if the port was taken
  tries=0
  while [ $tries -lt 50 ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null
      pid=""
      return 1
    fi
    if "$fetch" "http://127.0.0.1:$port/small.txt" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
    tries=$((tries + 1))
  done
  return 1
}

port=""
attempt=0
while [ $attempt -lt 5 ]; do
  candidate=$((20000 + $(od -An -N2 -tu2 /dev/urandom | tr -d ' ') % 40000))
  if start_nginx "$candidate"; then
    port=$candidate
    break
  fi
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=""; fi
  attempt=$((attempt + 1))
done
if [ -z "$port" ]; then
  echo "nginx could not be started: skipped"
  cat "$dir/nginx.out" "$dir/error.log" 2>/dev/null | tail -5
  exit 77
fi
base="http://127.0.0.1:$port"
echo "nginx $("$nginx" -v 2>&1 | sed 's/.*\///') on $base"

passed=0
failed=0
check() {
  name=$1
  shift
  if "$@"; then
    echo "ok   $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    failed=$((failed + 1))
  fi
}

fetch_to() {
  out=$1
  shift
  "$fetch" "$@" > "$out" 2> "$out.err"
}

# plain files, with Content-Length
fetch_to "$dir/got-small" "$base/small.txt"
check "small file" cmp "$dir/got-small" "$dir/www/small.txt"
fetch_to "$dir/got-large" "$base/large.bin"
check "large random file (5 MB)" cmp "$dir/got-large" "$dir/www/large.bin"

# SSI output is sent chunked: the head must say so and the body must decode
fetch_to "$dir/got-page-head" -i "$base/ssi/page.shtml"
check "SSI answer is chunked" grep -qi '^Transfer-Encoding: chunked' "$dir/got-page-head"
fetch_to "$dir/got-page" "$base/ssi/page.shtml"
check "chunked body" cmp "$dir/got-page" "$dir/expected-page.txt"

# redirects: nginx writes an absolute Location here, a relative one there
fetch_to "$dir/got-moved" "$base/moved"
check "301 redirect" cmp "$dir/got-moved" "$dir/www/small.txt"
fetch_to "$dir/got-moved-relative" "$base/moved-relative"
check "302 relative redirect" cmp "$dir/got-moved-relative" "$dir/www/large.bin"

# -i: the status line first, then the head, then the body
fetch_to "$dir/got-head" -i "$base/small.txt"
check "status line with -i" sh -c "head -n 1 '$dir/got-head' | grep -q '^HTTP/1.1 200 OK'"
check "body after the head with -i" sh -c "tail -c $(wc -c < "$dir/www/small.txt") '$dir/got-head' | cmp -s - '$dir/www/small.txt'"

# a missing file: non-zero exit and a reason on stderr
"$fetch" "$base/missing.txt" > /dev/null 2> "$dir/missing.err"
status=$?
check "404 exits non-zero" test "$status" -ne 0
check "404 reason on stderr" grep -q '^hly-fetch: server answered 404' "$dir/missing.err"

# nginx as the http_proxy: port 1 on localhost is never contacted
HALYARD_NET_CONFIG_PROXY_SELECTOR=env http_proxy="127.0.0.1:$port" no_proxy="" \
  "$fetch" "http://localhost:1/small.txt" > "$dir/got-proxied" 2> "$dir/got-proxied.err"
check "request through http_proxy" cmp "$dir/got-proxied" "$dir/www/small.txt"
check "absolute-form request line reached nginx" grep -q '"GET http://localhost:1/small.txt HTTP/1.1"' "$dir/access.log"

# nothing listening: a one-line reason naming the result code
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
pid=""
"$fetch" "$base/small.txt" > /dev/null 2> "$dir/refused.err"
status=$?
check "refused exits non-zero" test "$status" -ne 0
check "refused reason" grep -qx 'hly-fetch: connection refused (HLY_ERROR_CONNECTION_REFUSED)' "$dir/refused.err"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
