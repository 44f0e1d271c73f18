#!/usr/bin/env bash
# Builds the Debian package telmora_<version>-<revision>_<arch>.deb.
#   scripts/package.sh               Release build in build-release/ (programs only), then the package
#   scripts/package.sh --from DIR    the package of an existing build folder (brought up to date
#                                    first; its programs are stripped in the package)
#   --check                          then checks the package (tests/install/package.sh)
# The package lands in <build folder>/package/; its path is the last line printed.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=""
check=0
while [ $# -gt 0 ]; do
  case "$1" in
    --from) dir="${2:?--from needs a build folder}"; shift 2 ;;
    --check) check=1; shift ;;
    *) echo "usage: $0 [--from BUILD_DIR] [--check]" >&2; exit 2 ;;
  esac
done

scripts/bootstrap.sh
if [ -z "$dir" ]; then
  dir=build-release
  # Hardened as Debian builds its own packages (stack protector, fortified calls, read-only
  # relocations bound at start); the first configure of the folder takes them.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTELMORA_TESTS=OFF -DTELMORA_BENCH=OFF
fi
[ -f "$dir/CPackConfig.cmake" ] || { echo "package: $dir is not a configured build folder" >&2; exit 2; }
cmake --build "$dir" -j"$(nproc)"

rm -rf "$dir/package"
(cd "$dir" && cpack --config CPackConfig.cmake)
deb=$(ls "$dir"/package/telmora_*.deb)
[ "$check" = 1 ] && tests/install/package.sh "$deb"
echo "$deb"
