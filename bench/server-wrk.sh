#!/bin/sh
# The local server in Local Mode against nginx serving the same files, both under wrk
# (2 threads, 16 connections, 10 s, requests in proxy form "GET http://host/path"), once with
# keep-alive and once with "Connection: close". Prints requests/s, p50/p99 latency and the
# ratios to nginx. Not part of CI; installs nginx and wrk with apt-get when they are missing.
#
#   bench/server-wrk.sh [BUILD_DIR]        (default: build; needs bench_server built there)
set -eu

BUILD=${1:-build}
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
OBJECTS=200
SERVER_PORT=18181
NGINX_PORT=18182
DURATION=10s

need() {
    command -v "$1" >/dev/null 2>&1 && return 0
    [ -x "/usr/sbin/$1" ] && return 0
    echo "installing $2" >&2
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get install -y "$2" >/dev/null
}
need wrk wrk
need nginx nginx-light || need nginx nginx
NGINX=$(command -v nginx || echo /usr/sbin/nginx)

cmake --build "$BUILD" --target bench_server >/dev/null
WORK=$(mktemp -d)
cleanup() {
    [ -n "${SERVER_PID:-}" ] && kill "$SERVER_PID" 2>/dev/null || true
    [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

"$BUILD/bin/bench_server" --serve "$WORK" "$SERVER_PORT" 20 "$OBJECTS" > "$WORK/server.out" &
SERVER_PID=$!
while ! grep -q serving "$WORK/server.out" 2>/dev/null; do sleep 0.1; done

cat > "$WORK/nginx.conf" <<CONF
worker_processes 1;
pid $WORK/nginx.pid;
error_log $WORK/nginx-error.log;
events { worker_connections 1024; }
http {
    access_log off;
    default_type text/html;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $WORK/nginx;
        keepalive_requests 1000000;
    }
}
CONF
"$NGINX" -c "$WORK/nginx.conf" -p "$WORK"

# Rotates over the stored objects; the extra header asks the local server to keep alive.
cat > "$WORK/objects.lua" <<'LUA'
local n = 0
local objects = tonumber(os.getenv("OBJECTS"))
local extra = os.getenv("EXTRA_HEADER")
request = function()
    n = (n + 1) % objects
    local headers = {}
    if extra == "close" then headers["Connection"] = "close" else headers["Proxy-Connection"] = "Keep-Alive" end
    return wrk.format("GET", "http://bench.local/obj/" .. n .. ".html", headers)
end
LUA

# Prints "requests/s p50 p99 errors" (latencies in ms).
run() {
    OBJECTS=$OBJECTS EXTRA_HEADER=$2 wrk -t2 -c16 -d"$DURATION" --latency -s "$WORK/objects.lua" \
        "http://127.0.0.1:$1/" > "$WORK/wrk.out"
    awk '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
        /Requests\/sec/ { rps = $2 }
        / 50%/ { p50 = ms($2) }
        / 99%/ { p99 = ms($2) }
        /Socket errors/ { gsub(",", ""); errors += $4 + $6 + $8 + $10 }
        /Non-2xx/ { errors += $5 }
        END { printf "%.0f %.2f %.2f %d\n", rps, p50, p99, errors }' "$WORK/wrk.out"
}

for mode in keep-alive close; do
    ours=$(run "$SERVER_PORT" "$mode")
    theirs=$(run "$NGINX_PORT" "$mode")
    set -- $ours $theirs
    printf "%-10s  server %8.0f req/s  p50 %6.2f ms  p99 %6.2f ms  errors %s  |  nginx %8.0f req/s  p50 %6.2f ms  p99 %6.2f ms  |  ratio %.2f\n" \
        "$mode" "$1" "$2" "$3" "$4" "$5" "$6" "$7" "$(awk -v a="$1" -v b="$5" 'BEGIN { print a / b }')"
done
echo "reproduce: $0 $BUILD"
