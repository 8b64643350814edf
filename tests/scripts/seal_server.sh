# Sourced by the scripts that run the reference seal server as a program.
#
# start_seal_server OUT SERVER [ARGS...]
#   Starts SERVER --port 0 ARGS... in the background, its output in OUT, and
#   waits until it listens. Sets server_pid (for the caller's clean-up) and
#   server_url. When the server does not start, prints its output and exits 1.
start_seal_server() {
  local out=$1 server=$2
  shift 2
  "$server" --port 0 "$@" >"$out" 2>&1 &
  server_pid=$!
  server_url=""
  for _ in $(seq 100); do
    server_url=$(sed -n 's/^listening on //p' "$out" 2>/dev/null || true)
    [[ -n "$server_url" ]] && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "$(basename "$server") $* did not start:"
  cat "$out"
  exit 1
}
