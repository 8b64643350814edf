#!/usr/bin/env bash
# Runs the key-pair recipe of docs/protocol.md ("Making a key pair") as it
# stands there, then checks that the pair works: kel-seal-server signs with
# the private key, and a server time it signed verifies against the
# pubkey.key that the recipe wrote.
# Usage: key_recipe_test.sh PROTOCOL_MD KEL_SEAL_SERVER KEL
set -euo pipefail
protocol=$(realpath "$1") server=$(realpath "$2") kel=$(realpath "$3")

work=$(mktemp -d)
server_pid=
trap '[[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT

# The sh block between the key-recipe markers.
sed -n '/^<!-- key-recipe/,/^<!-- \/key-recipe -->/p' "$protocol" | sed '1d;$d' |
  sed '/^```/d' >"$work/recipe.sh"
[[ -s "$work/recipe.sh" ]] || { echo "no key recipe in $protocol"; exit 1; }
(cd "$work" && bash -euo pipefail recipe.sh)

key=$(cat "$work/pubkey.key")
[[ ${#key} -eq 289 ]] || { echo "pubkey.key has ${#key} characters, not 289: $key"; exit 1; }
[[ $key =~ ^ecdsa-secp521r1-sha512\+04[0-9a-f]{264}$ ]] || { echo "not a key text: $key"; exit 1; }

# shellcheck source=tests/scripts/seal_server.sh
source "$(dirname "$0")/seal_server.sh"
start_seal_server "$work/server.out" "$server" --key "$work/server-key.pem"
url=$server_url
stamp=$(cd "$work" && "$kel" server-time --url "$url" --content 'contract 7')
(cd "$work" && "$kel" verify-timestamp --content 'contract 7' \
  --time "$(sed -n 's/^time: //p' <<<"$stamp")" \
  --signature "$(sed -n 's/^signature: //p' <<<"$stamp")")
