#!/usr/bin/env bash
# The Debian packages as a user meets them: builds them for this machine
# (scripts/package-debian.sh), installs them with apt, builds the C example of
# docs/api.md and the consumer project in tests/consumer against the installed
# files alone and runs them against the installed kel-seal-server, checks the
# manual pages, and removes the packages again, also when a check failed.
#
# The machine is left as it was: the stage refuses to start when a Kel package
# is installed already, or when installing them would bring in other packages
# (which removing them would leave behind).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
export LC_ALL=C

packages=(libkel1 libkel-dev kel-tools)
version=$(scripts/version.sh)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); else sudo_cmd=(); fi
# One apt at a time on a shared machine: the lock that the machine's other
# apt users take, and dpkg's own locks for as long as bootstrap.sh waits.
apt_get() {
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive flock /tmp/apt.lock \
    apt-get -o DPkg::Lock::Timeout=600 -y -q --no-install-recommends "$@"
}

for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q ' installed$'; then
    echo "$package is installed already; this stage installs and removes it itself" >&2
    exit 1
  fi
done

scripts/package-debian.sh
debs=()
for package in "${packages[@]}"; do debs+=("$root/dist/${package}_${version}_${arch}.deb"); done

extra=$(apt_get install -s "${debs[@]}" | sed -n 's/^Inst \([^ :]*\).*/\1/p' |
  grep -vxF -e libkel1 -e libkel-dev -e kel-tools || true)
if [[ -n "$extra" ]]; then
  echo "installing the packages would also install: $(tr '\n' ' ' <<<"$extra")" >&2
  echo "(scripts/bootstrap.sh test installs them)" >&2
  exit 1
fi

remove_packages() {
  apt_get purge "${packages[@]}" >/dev/null || { echo "could not remove ${packages[*]}" >&2; exit 1; }
}
trap remove_packages EXIT
apt_get install "${debs[@]}" >/dev/null

# The installed kel loads the installed library, and no package installs a
# pubkey.key as the key in force (beside the library) or anywhere but the
# development keys' folder.
/usr/bin/kel --version | grep -qxF "library: $version (/usr/lib/$multiarch/libkel.so.$version)" ||
  { /usr/bin/kel --version; echo "the installed kel does not load the installed libkel"; exit 1; }
keys=$(dpkg -L "${packages[@]}" | grep '/pubkey\.key$' || true)
[[ "$keys" == /usr/share/kel/dev-keys/pubkey.key ]] ||
  { echo "pubkey.key installed as: $keys"; exit 1; }
echo "installed: ${packages[*]} $version"

# Each manual page formats without warnings and names every option that the
# program's --help (and each kel command's --help) offers.
for program in kel kel-seal-server; do
  page="/usr/share/man/man1/$program.1.gz"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z "$warnings" ]] || { echo "man -l $page: $warnings"; exit 1; }
  MANWIDTH=80 man -l "$page" | grep -q "^NAME" || { echo "man -l $page shows no page"; exit 1; }
  help=$("$program" --help)
  if [[ $program == kel ]]; then
    for command in $(sed -n '/^Subcommands:/,/^$/s/^  \([a-z0-9-]*\) .*/\1/p' <<<"$help"); do
      help+=$'\n'$(kel "$command" --help)
    done
  fi
  source_text=$(zcat "$page" | sed 's/\\-/-/g')
  for option in $(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    grep -qe "$option\b" <<<"$source_text" ||
      { echo "$program.1 does not describe $option"; exit 1; }
  done
done
echo "man pages: kel.1 and kel-seal-server.1 format and describe every option"

tests/scripts/api_example_test.sh --installed=/usr docs/api.md cc /usr/bin/kel-seal-server
tests/scripts/consumer_test.sh --installed=/usr tests/consumer cc
echo "Debian packages: built, installed, used and removed"
