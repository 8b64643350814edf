# Sourced by the scripts that test an installed Kel.
#
# use_installed_tree TREE WORK
#   TREE is a build folder, installed here into WORK/prefix with
#   cmake --install, or --installed=PREFIX for a Kel already installed there
#   (/usr, by the Debian packages). Sets prefix, and libdir: the folder that
#   holds libkel.so and pkgconfig/kel.pc (PREFIX/lib, or the multiarch one).
use_installed_tree() {
  local tree=$1 work=$2 dir
  if [[ $tree == --installed=* ]]; then
    prefix=${tree#--installed=}
  else
    prefix="$work/prefix"
    cmake --install "$tree" --prefix "$prefix" >"$work/install.log" ||
      { cat "$work/install.log"; exit 1; }
  fi
  libdir=""
  for dir in "$prefix/lib" "$prefix/lib/$(gcc -print-multiarch 2>/dev/null)" "$prefix/lib64"; do
    [[ -f "$dir/pkgconfig/kel.pc" ]] && { libdir=$dir; break; }
  done
  [[ -n "$libdir" ]] || { echo "no pkgconfig/kel.pc in a library folder of $prefix"; exit 1; }
}
