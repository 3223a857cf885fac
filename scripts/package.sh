#!/usr/bin/env bash
# Builds the Debian package into ../build (then: apt install ../build/tanvork_*.deb).
#   scripts/package.sh [--check]
# --check also checks it as CI does: lintian (no error), desktop-file-validate,
# appstreamcli validate --no-net, and the unpacked tanvork-cli --version.
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
case "${1:-}" in
  --check) check=true ;;
  "") ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh package
out=$(cd .. && pwd)/build
dir=$out/tanvork-package

# Debian's hardening flags, without debug info: the binaries are stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1" | sed -E 's/(^| )-g( |$)/ /'; }
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DTANVORK_TESTS=OFF -DTANVORK_BENCH=OFF -DTANVORK_PACKAGE=ON \
  -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$dir" -j"$(nproc)"

rm -f "$dir"/tanvork_*.deb
if ! (cd "$dir" && cpack -G DEB >cpack.log 2>&1); then
  cat "$dir/cpack.log" >&2
  exit 1
fi
deb=$(ls "$dir"/tanvork_*.deb)
mv -f "$deb" "$out/"
deb=$out/$(basename "$deb")
echo "package: wrote $deb"
$check || exit 0

lintian --fail-on error --display-info "$deb"
echo "package: lintian found no error"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
# The unpacked programs find every library they link.
if ldd "$root/usr/bin/tanvork" "$root/usr/bin/tanvork-cli" | grep 'not found'; then
  exit 1
fi
version=$("$root/usr/bin/tanvork-cli" --version)
echo "package: unpacked $version"
if [ "$version" != "tanvork-cli $(dpkg-deb -f "$deb" Version)" ]; then
  echo "package: the program's version differs from the package's" >&2
  exit 1
fi
