#!/usr/bin/env bash
# Checks a built Debian package as a user's machine would take it: lintian finds no error (and
# no warning beyond the known ones below), the metadata and the desktop entry are valid, the
# package holds our files and nothing from the build, the programs run from the unpacked
# package, and apt can resolve its dependencies.
set -u
deb=$(realpath "$1")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { if ! eval "$2"; then echo "FAIL: $1"; fail=1; else echo "ok: $1"; fi; }

version=$(dpkg-deb -f "$deb" Version)
upstream=${version%-*}
echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"

# The warning we accept: a first Debian revision is expected to close the bug that asked for the
# package in Debian's archive; this package is built outside it, so there is none to close.
accepted=initial-upload-closes-no-bugs
lintian --fail-on error,warning --suppress-tags "$accepted" --tag-display-limit 0 "$deb" >"$tmp/lintian.log" 2>&1
lintian_rc=$?
sed 's/^/  lintian: /' "$tmp/lintian.log"
check "lintian reports no error and no new warning" '[ $lintian_rc -eq 0 ]'

# Exactly these paths, so nothing from the build folder (tests, benchmarks, build helpers)
# slips in.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^/\?$' | sort >"$tmp/contents"
allowed='^/usr(/bin(/telmora|/telmora-sim)?|/share(/applications(/io\.github\.telmora\.Telmora\.desktop)?|/metainfo(/io\.github\.telmora\.Telmora\.metainfo\.xml)?|/icons(/hicolor(/[0-9]+x[0-9]+(/apps(/telmora\.png)?)?|/scalable(/apps(/telmora\.svg)?)?)?)?|/man(/man1(/telmora\.1\.gz|/telmora-sim\.1\.gz)?)?|/doc(/telmora(/copyright|/changelog\.Debian\.gz)?)?)?)?$'
check "the package holds only our files" '! grep -Ev "$allowed" "$tmp/contents" | sed "s/^/  unexpected: /" | grep .'
for f in /usr/bin/telmora /usr/bin/telmora-sim /usr/share/applications/io.github.telmora.Telmora.desktop \
  /usr/share/metainfo/io.github.telmora.Telmora.metainfo.xml /usr/share/icons/hicolor/scalable/apps/telmora.svg \
  /usr/share/icons/hicolor/48x48/apps/telmora.png /usr/share/icons/hicolor/256x256/apps/telmora.png \
  /usr/share/man/man1/telmora.1.gz /usr/share/man/man1/telmora-sim.1.gz \
  /usr/share/doc/telmora/copyright /usr/share/doc/telmora/changelog.Debian.gz; do
  check "the package has $f" 'grep -qx "$f" "$tmp/contents"'
done

depends=$(dpkg-deb -f "$deb" Depends)
echo "  Depends: $depends"
# Library packages come from the programs' links; the rest is named by hand.
for p in libc6 libqt6widgets6 libmosquitto1 fonts-liberation2 fonts-dejavu-core qt6-qpa-plugins qt6-translations-l10n; do
  check "it depends on $p" 'grep -Eq "(^|, )$p( |,|$)" <<<"$depends"'
done

root="$tmp/root"
dpkg-deb -x "$deb" "$root"
check "the AppStream metadata is valid" \
  'appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.telmora.Telmora.metainfo.xml" >"$tmp/as.log" 2>&1 || { cat "$tmp/as.log"; false; }'
check "the desktop entry is valid" \
  'out=$(desktop-file-validate "$root/usr/share/applications/io.github.telmora.Telmora.desktop" 2>&1) && [ -z "$out" ] || { echo "$out"; false; }'
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/io.github.telmora.Telmora.desktop")
check "the desktop entry starts a program of the package" '[ -x "$root/usr/bin/${exec_line%% *}" ]'

for p in telmora telmora-sim; do
  check "$p --version prints $upstream" '[ "$("$root/usr/bin/$p" --version)" = "$p $upstream" ]'
done
# The program draws its window without a display; its settings stay in the scratch folder.
check "telmora --screenshot writes a picture" \
  'XDG_CONFIG_HOME="$tmp/config" QT_QPA_PLATFORM=offscreen timeout 60 "$root/usr/bin/telmora" --screenshot "$tmp/shot.png" >"$tmp/shot.log" 2>&1 &&
   [ "$(head -c 8 "$tmp/shot.png" | od -An -tx1 | tr -d " ")" = "89504e470d0a1a0a" ] || { cat "$tmp/shot.log"; false; }'
if command -v man >/dev/null; then
  for p in telmora telmora-sim; do
    check "man renders the page of $p" 'LC_ALL=C MANWIDTH=80 man -l "$root/usr/share/man/man1/$p.1.gz" 2>/dev/null | grep -q "EXIT STATUS"'
  done
fi

# apt resolves the dependencies against the package lists (scripts/bootstrap.sh fetched them).
check "apt resolves the package's dependencies" \
  'apt-get install --simulate "$deb" >"$tmp/apt.log" 2>&1 && grep -Eq "^Inst telmora |telmora is already the newest" "$tmp/apt.log" || { cat "$tmp/apt.log"; false; }'
exit $fail
