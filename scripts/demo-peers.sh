# Sourced by scripts/demo and bench/window-bench, inside scripts/testnet:
# starts minidlna (serving a small media tree) and gmediarender in the peer
# namespace, and stops them, by process id, when the sourcing shell exits.
# Sets $work (a scratch directory, removed at exit) and $peer_pids.

for program in minidlnad gmediarender; do
  if ! command -v $program >/dev/null 2>&1; then
    echo "$program is missing (scripts/install-deps installs it)" >&2
    exit 1
  fi
done

work=$(mktemp -d /tmp/beaconry-demo-XXXXXX)
peer_pids=""
stop_peers() {
  for pid in $peer_pids; do
    kill "$pid" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_peers EXIT
trap 'exit 130' INT TERM

# little-endian integer $1 in $2 bytes
le() {
  v=$1; i=0
  while [ $i -lt "$2" ]; do printf "\\$(printf %03o $((v & 255)))"; v=$((v >> 8)); i=$((i + 1)); done
}
# a silent 16-bit mono WAV file $1 of $2 seconds at 8 kHz
wav() {
  size=$(($2 * 16000))
  { printf RIFF; le $((36 + size)) 4; printf 'WAVEfmt '; le 16 4; le 1 2; le 1 2; le 8000 4; le 16000 4
    le 2 2; le 16 2; printf data; le $size 4; head -c $size /dev/zero; } > "$1"
}
mkdir -p "$work/media/Music" "$work/media/Podcasts" "$work/db" "$work/log"
wav "$work/media/Music/Morning.wav" 2
wav "$work/media/Music/Evening.wav" 3
wav "$work/media/Podcasts/Interview.wav" 4

cat > "$work/minidlna.conf" <<CONF
network_interface=$TESTNET_PEER_IF
port=8200
media_dir=$work/media
db_dir=$work/db
log_dir=$work/log
friendly_name=Demo Media Server
uuid=4d696e69-444c-164e-9d41-0000beac0d01
notify_interval=30
inotify=no
CONF
# ip netns exec execs the daemon itself: $! is the daemon's own pid
ip netns exec "$TESTNET_PEER_NS" minidlnad -S -R -f "$work/minidlna.conf" -P "$work/minidlna.pid" \
  >"$work/minidlna.out" 2>&1 &
peer_pids="$peer_pids $!"
ip netns exec "$TESTNET_PEER_NS" gmediarender --interface-name "$TESTNET_PEER_IF" --port 49494 \
  --uuid 676d7264-7265-6e64-9d41-0000beac0d02 --friendly-name "Demo Renderer" --output gst \
  --gstout-audiosink fakesink --gstout-videosink fakesink >"$work/gmediarender.out" 2>&1 &
peer_pids="$peer_pids $!"

# what the peers said, for when something went wrong
peer_logs() {
  for log in "$work"/*.out; do sed "s|^|$(basename "$log"): |" "$log" >&2; done
}
