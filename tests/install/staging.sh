#!/usr/bin/env bash
# A staging install (DESTDIR) as a package build does it: the programs, the desktop entry, the
# icons and the manual page land in their places, and the desktop entry is valid.
set -u
build="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

if ! DESTDIR="$tmp" cmake --install "$build" --prefix /usr/local >"$tmp/install.log" 2>&1; then
  echo "FAIL: cmake --install"; cat "$tmp/install.log"; exit 1
fi
root="$tmp/usr/local"
for p in telmora telmora-sim; do check "bin/$p is installed and runs" '[ -x "$root/bin/$p" ] && "$root/bin/$p" --version | grep -q "^$p "'; done

desktop="$root/share/applications/io.github.telmora.Telmora.desktop"
if command -v desktop-file-validate >/dev/null; then
  check "the desktop entry is valid" 'out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ]'
else
  echo "FAIL: desktop-file-validate is missing (Debian desktop-file-utils; scripts/bootstrap.sh installs it)"; fail=1
fi
check "the desktop entry starts telmora with its icon" 'grep -qx "Exec=telmora" "$desktop" && grep -qx "Icon=telmora" "$desktop"'
check "the desktop entry has an English and a German comment" 'grep -q "^Comment=" "$desktop" && grep -q "^Comment\[de\]=" "$desktop"'

icons="$root/share/icons/hicolor"
check "the scalable icon is installed" 'grep -q "<svg" "$icons/scalable/apps/telmora.svg"'
# Width and height are the big-endian words at bytes 16 and 20 of a PNG.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 "x" $7*256+$8}'; }
for s in 48 128; do
  check "the ${s} px icon is a ${s}x${s} PNG" '[ "$(png_size "$icons/${s}x${s}/apps/telmora.png")" = "${s}x${s}" ]'
done

# Every option --help names is in the program's manual page.
for p in telmora telmora-sim; do
  man="$root/share/man/man1/$p.1.gz"
  check "the manual page of $p is installed" '[ -s "$man" ] && zcat "$man" | head -1 | grep -q "^\.TH ${p^^} 1"'
  for opt in $("$root/bin/$p" --help | grep -o -- '--[a-z-]*[a-z]' | sort -u); do
    check "the manual page of $p describes $opt" 'zcat "$man" | grep -qF -- "\\fB${opt//-/\\-}"'
  done
done
if command -v man >/dev/null; then
  check "man renders the page" 'MANWIDTH=80 man -l "$root/share/man/man1/telmora.1.gz" 2>/dev/null | grep -q "single\|one copy\|Only one copy"'
fi
exit $fail
