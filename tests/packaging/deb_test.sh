#!/usr/bin/env bash
# deb_test.sh - builds the Debian package with cpack and checks its files, its conffiles
# and that its Depends field names the package of every library the program links.
#
# Usage: deb_test.sh <build dir>
set -uo pipefail

build=$(readlink -f "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT

failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack -G DEB"
    exit 1
fi
shopt -s nullglob
debs=("$work"/out/corvane_*.deb)
if [ ${#debs[@]} != 1 ]; then
    ls -l "$work/out"
    echo "FAIL: expected one corvane_*.deb"
    exit 1
fi
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "corvane_${version}_${arch}.deb" ] ||
    fail "package file is named $(basename "$deb")"
[ "$(dpkg-deb -f "$deb" Package)" = corvane ] || fail "Package is not corvane"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "Architecture is not $arch"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"

dpkg-deb -c "$deb" | awk '{ print $6 ($7 == "->" ? " -> " $8 : "") }' >"$work/contents"
for entry in ./opt/corvane/bin/corvane ./opt/corvane/config/corvane.conf \
    ./opt/corvane/input/ ./opt/corvane/output/ ./opt/corvane/failed/ \
    "./usr/bin/corvane -> /opt/corvane/bin/corvane" \
    ./usr/share/man/man1/corvane.1.gz ./usr/share/man/man5/corvane.conf.5.gz \
    ./opt/corvane/share/doc/corvane/README.md \
    ./opt/corvane/share/doc/corvane/systemd/corvane.service \
    ./opt/corvane/share/doc/corvane/examples/ts32435-r/corvane.conf; do
    grep -qxF "$entry" "$work/contents" || fail "package lacks $entry"
done
# Debian packages must not ship anything in /usr/local, and the pages live in /usr/share/man.
grep -E '^\./usr/local/|^\./opt/corvane/share/man/' "$work/contents" &&
    fail "package ships files in /usr/local or a second copy of the manual pages"

dpkg-deb -e "$deb" "$work/control"
grep -qxF /opt/corvane/config/corvane.conf "$work/control/conffiles" ||
    fail "/opt/corvane/config/corvane.conf is not a conffile"

# Every library the program links directly must come from a package named in Depends.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# One package name per line, without versions; alternatives count as named.
tr ',|' '\n' <<<"$depends" | awk '{ print $1 }' | sort -u >"$work/depends"
named() { grep -qxF "$1" "$work/depends"; }
needed=$(readelf -d "$build/corvane" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || fail "readelf found no NEEDED entries"
for library in $needed; do
    path=$(ldd "$build/corvane" | awk -v lib="$library" '$1 == lib && $2 == "=>" { print $3 }')
    [ -n "$path" ] || { fail "$library is not found"; continue; }
    owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null) ||
        { fail "no package owns $path"; continue; }
    package=${owner%%:*}
    named "$package" || fail "Depends lacks $package (for $library)"
done
named libqt6core6 || named libqt6core6t64 || fail "Depends lacks the Qt 6 core library"
named libqt6core5compat6 || named libqt6core5compat6t64 || fail "Depends lacks Qt 6 Core5Compat"

# The packaged program runs, and the packaged pages render without warnings.
dpkg-deb -x "$deb" "$work/root"
"$work/root/opt/corvane/bin/corvane" -v | grep -q "Version $version" ||
    fail "the packaged program does not report version $version"
for page in man1/corvane.1.gz man5/corvane.conf.5.gz; do
    warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$work/root/usr/share/man/$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
done

[ $failed = 0 ] && echo "package test passed"
exit $failed
