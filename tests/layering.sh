#!/usr/bin/env bash
# Checks the dependency direction of the source folders from their #include lines: each layer
# includes only the layers below it, nothing below app/ includes app/, and the rooms of app/
# include only rooms below their own (cli < storage < records < window < startup).
set -u
root="${1:-$(dirname "$0")/..}"
cd "$root" || exit 2

declare -A allowed=(
  [platform]="platform"
  [tty]="tty"
  [serial]="serial tty platform"
  [instruments]="instruments platform"
  [broker]="broker platform"
  [tools]="tools tty platform"
  [data]="data app/cli tools platform"
)
rooms=(cli storage records window startup)
outside_app="platform tty serial instruments broker tools"
for i in "${!rooms[@]}"; do
  below="$outside_app"
  for ((j = 0; j <= i; j++)); do below+=" app/${rooms[j]}"; done
  allowed[app/${rooms[i]}]="$below"
done

fail=0
for dir in "${!allowed[@]}"; do
  [ -d "$dir" ] || continue
  while IFS= read -r line; do
    file=${line%%:*}
    [[ "${line#*:}" =~ \"([^\"]+)\" ]] || continue
    target=${BASH_REMATCH[1]}
    case "$target" in */*) ;; *) continue ;; esac # a header of the same folder or a system one
    ok=0
    for a in ${allowed[$dir]}; do
      [[ "$target" == "$a"/* ]] && { ok=1; break; }
    done
    if [ $ok = 0 ]; then
      echo "FAIL: $file includes \"$target\" ($dir may include: ${allowed[$dir]})"
      fail=1
    fi
  done < <(grep -rHE '^\s*#\s*include\s+"' --include='*.cpp' --include='*.h' --include='*.in' "$dir")
done
# Every source file of app/ lives in a room.
for f in app/*.cpp app/*.h; do
  [ -e "$f" ] && { echo "FAIL: $f is outside the rooms of app/"; fail=1; }
done
[ $fail = 0 ] && echo "ok: every #include follows the layers"
exit $fail
