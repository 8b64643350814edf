#!/usr/bin/env bash
# Prints the project's one version, from project() in CMakeLists.txt.
# Usage: scripts/version.sh [--released]
#   --released  also requires CHANGELOG.md to have its "## VERSION" entry, as
#               the packages do
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -nE 's/^project\(Kel VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' CMakeLists.txt)
[[ -n "$version" ]] || { echo "no project version in CMakeLists.txt" >&2; exit 1; }
if [[ ${1:-} == --released ]] && ! grep -q "^## $version\$" CHANGELOG.md; then
  echo "CHANGELOG.md has no entry \"## $version\"" >&2
  exit 1
fi
echo "$version"
