#!/usr/bin/env bash
# The C example of docs/api.md, as a newcomer meets it: installs the build into
# a temporary prefix (or takes a Kel installed already), takes the example
# program and its build command out of the document, builds it with that
# command against the installed tree, and runs it against the reference seal
# server with pubkey.key in its folder.
# Usage: api_example_test.sh BUILD_DIR|--installed=PREFIX API_MD C_COMPILER SEAL_SERVER [EXTRA_FLAGS]
# EXTRA_FLAGS (the sanitizer flags of the tree) are added to the compiler.
set -euo pipefail
tree=$1 doc=$2 compiler=$3 server=$4 extra_flags=${5:-}
fixtures="$(cd "$(dirname "$0")/.." && pwd)/fixtures"
# By its path: the document's command calls "cc", which becomes a function
# that runs this compiler, and a compiler named cc would call itself.
compiler=$(command -v "$compiler") || { echo "no compiler $3"; exit 1; }

work=$(mktemp -d)
server_pid=
trap '[[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
# shellcheck source=tests/scripts/installed_tree.sh
source "$(dirname "$0")/installed_tree.sh"
use_installed_tree "$tree" "$work"

# The section "Example: one full transaction": its C block is the program,
# the line of its sh block that starts with "cc " the build command.
section=$(sed -n '/^## Example: one full transaction/,/^## /p' "$doc")
sed -n '/^```c$/,/^```$/p' <<<"$section" | sed '1d;$d' >"$work/example.c"
command=$(sed -n '/^```sh$/,/^```$/p' <<<"$section" | grep -m1 '^cc ' || true)
[[ -s "$work/example.c" && -n "$command" ]] ||
  { echo "docs/api.md has no C example with a cc command in its example section"; exit 1; }
echo "building: $command"
# shellcheck disable=SC2086  # the flags are a list of words
(cd "$work" && PKG_CONFIG_PATH="$libdir/pkgconfig" CC_FLAGS="$extra_flags" \
  bash -c "cc() { \"$compiler\" \$CC_FLAGS \"\$@\"; }; $command") ||
  { echo "the example does not build as docs/api.md says"; exit 1; }

# The server key the document names: installed with the development keys,
# else the fixture it comes from.
key="$prefix/share/kel/dev-keys/pubkey.key"
[[ -f "$key" ]] || key="$fixtures/dev-only-document-server-key.pub"
cp "$key" "$work/pubkey.key"
# shellcheck source=tests/scripts/seal_server.sh
source "$(dirname "$0")/seal_server.sh"
start_seal_server "$work/server.out" "$server" --key "$fixtures/dev-only-document-server-key.pem" \
  --valid-seal 'S-1=Acme Ltd'
url=$server_url

# The program finds libkel.so through the run path its build command set.
status=0
output=$(cd "$work" && env -u LD_LIBRARY_PATH ./example "$url") || status=$?
echo "$output"
[[ $status -eq 0 ]] || { echo "the example exited with $status"; exit 1; }
for line in "status 0" "description: valid seal" "timestamp verifies"; do
  grep -qx "$line" <<<"$output" || { echo "the example did not print \"$line\""; exit 1; }
done
grep -qE '^time [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}$' <<<"$output" ||
  { echo "the example printed no server time"; exit 1; }
echo "docs/api.md: the example builds as written and runs"
