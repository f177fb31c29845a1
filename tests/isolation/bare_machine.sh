#!/usr/bin/env bash
# Runs a host on a machine that has only the libraries every Linux DAW
# machine has: in a private mount namespace, the system's library folder is
# replaced by a view that holds just that set, what those libraries need in
# turn, Mesa's GL driver (libGL's own part) and the sanitizer runtimes of a
# sanitizer build. The host must list the module's entries, make one and
# open its editor; and it must not find libftgl there, or the view proves
# nothing.
#
# With --without-gl the view has no libGL at all (a DAW installed without
# its recommended packages, a render server): the host must still list all
# 25 entries and run the LFO, which must offer no editor; and it must not
# find libGL there.
#
# With --gl-stand-in FILE the view's libGL.so.1 is FILE, a library that
# loads but lacks GL's entry points (a stub, or GL's dispatch library under
# that name): the same as without libGL, and effEditOpen must not end the
# host.
#
# Usage: bare_machine.sh [--without-gl | --gl-stand-in FILE] <bare_machine_host> <module.so>
# Exit 77 (skipped) where mount namespaces cannot be made (not root).
set -euo pipefail

if [ "${1:-}" != --inside ]; then
  if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    echo "bare_machine: needs root and mount namespaces; skipped"
    exit 77
  fi
  exec unshare -m --propagation private bash "$0" --inside "$@"
fi
shift
without_gl=0 stand_in=""
if [ "${1:-}" = --without-gl ]; then without_gl=1; shift; fi
if [ "${1:-}" = --gl-stand-in ]; then without_gl=1 stand_in=$2; shift 2; fi
host=$1 module=$2

libdir=/usr/lib/x86_64-linux-gnu
everyday=(libc.so.6 libm.so.6 libstdc++.so.6 libgcc_s.so.1 libX11.so.6 libasound.so.2
          libpng16.so.16 libfreetype.so.6 libfontconfig.so.1)
[ "$without_gl" -eq 1 ] || everyday+=(libGL.so.1 libGLX_mesa.so.0 dri/swrast_dri.so)

# Each library by its name in the folder, then everything ldd says it needs.
keep=(ld-linux-x86-64.so.2 dri)
closure_of() {
  ldd "$1" 2>/dev/null | sed -n 's|.*=> \(/[^ ]*\) (.*|\1|p; s|^[[:space:]]*\(/[^ ]*\) (.*|\1|p'
}
for lib in "${everyday[@]}"; do
  [ -e "$libdir/$lib" ] || { echo "bare_machine: $libdir/$lib is missing on this machine" >&2; exit 1; }
  keep+=("$(basename "$lib")")
  while read -r path; do keep+=("$(basename "$path")"); done < <(closure_of "$libdir/$lib")
done
while read -r path; do keep+=("$(basename "$path")"); done < <(closure_of "$host")
[ -z "$stand_in" ] || while read -r path; do keep+=("$(basename "$path")"); done < <(closure_of "$stand_in")
# A sanitizer build's module needs its runtimes.
while read -r path; do
  case $(basename "$path") in lib*san.so*) keep+=("$(basename "$path")") ;; esac
done < <(closure_of "$module")

stash=$(mktemp -d)
view=$(mktemp -d)
mount --bind "$libdir" "$stash"
mount -t tmpfs tmpfs "$view"
for name in $(printf '%s\n' "${keep[@]}" | sort -u); do
  [ -e "$stash/$name" ] && ln -s "$stash/$name" "$view/$name"
done
if [ -n "$stand_in" ]; then
  target=$(realpath "$stand_in")
  case $target in "$libdir"/*) target="$stash/${target#"$libdir"/}" ;; esac
  ln -sf "$target" "$view/libGL.so.1"
fi
mount --bind "$view" "$libdir"

if [ "$without_gl" -eq 0 ]; then
  exec "$host" --missing libftgl.so.2 "$module"
fi
if [ -n "$stand_in" ]; then
  output=$("$host" --without-gl "$module") || { echo "$output"; exit 1; }
else
  output=$("$host" --missing libGL.so.1 --without-gl "$module") || { echo "$output"; exit 1; }
fi
echo "$output"
# (bash alone: grep's libraries are not in the view)
for line in "entries 25" "lfo runs" "no editor"; do
  [[ $'\n'$output$'\n' == *$'\n'$line$'\n'* ]] || { echo "bare_machine: the host did not say \"$line\"" >&2; exit 1; }
done
