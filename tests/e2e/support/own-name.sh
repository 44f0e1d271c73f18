# Sourced by the end-to-end tests: the program under a file name of its own, so that a test run at
# the same time (ctest -j) is no second start of it and is not turned away by the single-instance
# guard. Sets $bin; the link goes with the test's exit.
own_dir=$(mktemp -d)
bin="$own_dir/telmora-$(basename "$0" .sh)-$$"
ln "$1" "$bin" 2>/dev/null || cp "$1" "$bin"
trap 'rm -rf "$own_dir"' EXIT
