#!/usr/bin/env bash
# Builds the Debian package in its Release configuration in build-release/ and checks it with
# Debian's own tools: lintian on the package, desktop-file-validate on its desktop entry,
# appstreamcli on its AppStream metainfo (and the installed tree as a whole), and bash on its
# completion. Any error or warning fails the script; the package is build-release/ombrik_*.deb.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build_dir=build-release
# Debian's compiler and linker flags for packages (hardening: stack protector, fortified
# functions, read-only relocations bound at start-up).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Only the two programs are built: cpack is not to build the tools and benchmarks (all) first.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DOMBRIK_BUILD_TESTS=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$build_dir" -j"$(nproc)" --target ombrik ombrik-cli
rm -f "$build_dir"/ombrik_*.deb
(cd "$build_dir" && cpack -G DEB)
deb=$(ls "$build_dir"/ombrik_*.deb)

failed=0
# check NAME PATTERN COMMAND...: runs a validator, which fails on its exit status or on any line
# it prints that matches PATTERN (an extended regular expression).
check() {
  local name=$1 pattern=$2 out
  shift 2
  if ! out=$("$@" 2>&1) || grep -Eq "$pattern" <<<"$out"; then
    printf '%s\n' "$out" | sed 's/^/  /'
    echo "package: $name FAILED" >&2
    failed=1
  else
    echo "package: $name clean"
  fi
}

# lintian run as root says so; only its tags count here.
check lintian . bash -o pipefail -c 'lintian --fail-on error,warning --tag-display-limit 0 "$1" 2>&1 |
  { grep -v "^running with root privileges is not recommended!$" || true; }' _ "$deb"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
check desktop-file-validate . desktop-file-validate "$tree/usr/share/applications/ombrik.desktop"
# Its errors and warnings count; infos and pedantic hints are shown only when it fails.
check "appstreamcli validate" '^[[:space:]]*[EW]:' appstreamcli validate --no-net \
  "$tree"/usr/share/metainfo/*.metainfo.xml
check "appstreamcli validate-tree" '^[[:space:]]*[EW]:' appstreamcli validate-tree --no-net "$tree"

# The packaged completion, where bash-completion looks for it, with the packaged program.
check "bash completion" FAIL bash tests/packaging/completion_test.sh \
  "$tree/usr/share/bash-completion/completions/ombrik-cli" "$tree/usr/bin/ombrik-cli"

if [ "$failed" -ne 0 ]; then
  echo "package: $deb has errors or warnings" >&2
  exit 1
fi
echo "package: $deb is clean"
