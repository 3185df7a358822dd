#!/usr/bin/env bash
# Installs the build into a fresh prefix, moves the installation elsewhere,
# and checks it as a user would meet it:
#  - the layout: programs, the versioned host library, headers, pkg-config
#    file, CMake package, plug-in folder, manual pages, examples;
#  - --version of the installed programs;
#  - a plug-in of one's own (tests/install/plugin) builds against the
#    installed host, once through find_package(jhost) and once through
#    pkg-config, and the installed flowhost loads and runs each build;
#  - the installed flowhost takes the installed default plug-ins, never the
#    build tree's: with the plug-in folder gone it names the places it
#    tried, and none of them is in the build tree.
# Nothing here opens a socket: the documents hold no sniffer block.
#
#   install_test.sh <build-dir> <source-dir> <c++ compiler> <libdir> <version> <soversion>
# Exit status 77 (reported as skipped) when a tool it needs is missing.
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
cxx=$3 libdir=$4 version=$5 soversion=$6

for tool in cmake pkg-config readelf "$cxx"; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

# Nothing of the build tree may come in through the environment.
unset LD_LIBRARY_PATH PKG_CONFIG_PATH CMAKE_PREFIX_PATH
work=$(mktemp -d "${TMPDIR:-/tmp}/gps_feed_install.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
# expect <file> <text>: the file holds the text.
expect() { grep -qF -- "$2" "$1" || { cat "$1" >&2; fail "$1 does not say: $2"; }; }
# untouched_by_build <file>...: no path of the build tree in the files.
untouched_by_build() {
  if grep -F -- "$build" "$@"; then fail "the installed flowhost reached into the build tree $build"; fi
}

cmake --install "$build" --prefix "$work/staged" >"$work/install.log"
# Installed in one place, used from another: nothing may depend on the prefix.
mv "$work/staged" "$work/prefix"
prefix=$work/prefix
plugins=$prefix/$libdir/gps_feed/plugins

# ---- layout ---------------------------------------------------------------
for file in bin/flowhost bin/nmea_beacon bin/feed_record \
    "$libdir/libjhost.so.$version" "$libdir/libjhost.so" \
    "$libdir/gps_feed/plugins/JQNV_packet_sniffer.so" "$libdir/gps_feed/plugins/JGeoGridObj.so" \
    include/gps_feed/JAddObj.h include/gps_feed/JExport.h include/gps_feed/JPluginLoader.h \
    "$libdir/pkgconfig/jhost.pc" "$libdir/cmake/jhost/jhostConfig.cmake" \
    share/man/man1/flowhost.1 share/man/man1/nmea_beacon.1 share/man/man1/feed_record.1 \
    share/gps_feed/examples/nodes.nod share/gps_feed/examples/beacon.mcp \
    share/gps_feed/examples/demo.json share/gps_feed/examples/flowhost@.service; do
  [ -e "$prefix/$file" ] || fail "not installed: $file"
done
# The service unit runs the program where it was installed, trace log off.
expect "$prefix/share/gps_feed/examples/flowhost@.service" \
  "ExecStart=$work/staged/bin/flowhost --table off --trace off \\"
[ -e "$prefix/share/gps_feed/examples/flowhost@.service.in" ] && fail "the unit's template was installed"
readelf -d "$prefix/$libdir/libjhost.so" >"$work/dynamic.txt"
expect "$work/dynamic.txt" "Library soname: [libjhost.so.$soversion]"
[ -e "$prefix/$libdir/libjhost.so.$soversion" ] || fail "no libjhost.so.$soversion"
[ "$("$prefix/bin/flowhost" --version)" = "flowhost $version" ] || fail "flowhost --version"
[ "$("$prefix/bin/nmea_beacon" --version)" = "nmea_beacon $version" ] || fail "nmea_beacon --version"
[ "$("$prefix/bin/feed_record" --version)" = "feed_record $version" ] || fail "feed_record --version"

# ---- a plug-in of one's own, built two ways --------------------------------
# Through the CMake package...
cmake -S "$source/tests/install/plugin" -B "$work/by-cmake" "${generator[@]}" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >"$work/by-cmake.log" 2>&1 ||
  { cat "$work/by-cmake.log" >&2; fail "configuring the plug-in with find_package(jhost)"; }
cmake --build "$work/by-cmake" >>"$work/by-cmake.log" 2>&1 ||
  { cat "$work/by-cmake.log" >&2; fail "building the plug-in with find_package(jhost)"; }
# ...and through pkg-config.
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
[ "$(pkg-config --modversion jhost)" = "$version" ] || fail "pkg-config --modversion jhost"
[ "$(realpath "$(pkg-config --variable=plugindir jhost)")" = "$(realpath "$plugins")" ] ||
  fail "pkg-config --variable=plugindir jhost is not $plugins"
mkdir "$work/by-pkg-config"
# shellcheck disable=SC2046  # the flags are words
"$cxx" -shared -fPIC -fvisibility=hidden -Wall -Wextra -Werror $(pkg-config --cflags jhost) \
  "$source/tests/install/plugin/JDoublerObj.cpp" -o "$work/by-pkg-config/JDoublerObj.so" \
  $(pkg-config --libs jhost)

# A constant of 21 through the doubler to a display, beside a clock.
block() { # id class extra-entries
  printf '{"id": %s, "class": "%s", "entries": {"x": %s0.0, "y": 20.0, "width": 80.0, "height": 60.0, "label": "block %s"%s}}' \
    "$1" "$2" "$1" "$1" "$3"
}
cat >"$work/doubler.json" <<DOC
{"document": "jhost graph", "version": 1,
 "blocks": [$(block 1 JClockObj ', "rate": 5.0'), $(block 2 JConstantObj ', "value": 21'),
            $(block 3 JDoublerObj ''), $(block 4 JDisplayObj ', "inputs": 2')],
 "links": [{"from": 1, "output": 0, "to": 4, "input": 0}, {"from": 2, "output": 0, "to": 3, "input": 0},
           {"from": 3, "output": 0, "to": 4, "input": 1}]}
DOC
cd "$work"
for way in by-cmake by-pkg-config; do
  "$prefix/bin/flowhost" --plugin "$work/$way/JDoublerObj.so" --seconds 0.5 --table off \
    --faces "$work/faces-$way" "$work/doubler.json" >"$work/run-$way.out" 2>"$work/run-$way.err" ||
    { cat "$work/run-$way.err" >&2; fail "flowhost with the plug-in built $way"; }
  expect "$work/run-$way.out" "flowhost: plug-in $work/$way/JDoublerObj.so (JDoublerObj)"
  # The installed defaults, from the installed plug-in folder.
  expect "$work/run-$way.out" "flowhost: plug-in $plugins/JQNV_packet_sniffer.so (JQNV_packet_sniffer)"
  expect "$work/run-$way.out" "flowhost: plug-in $plugins/JGeoGridObj.so (JGeoGridObj)"
  expect "$work/faces-$way/04-JDisplayObj.svg" ">in 1: 42</text>"
  untouched_by_build "$work/run-$way.out" "$work/run-$way.err"
done

# ---- no plug-in folder: the build tree's are not a fallback ----------------
mv "$plugins" "$prefix/$libdir/gps_feed/moved"
cat >"$work/map.json" <<DOC
{"document": "jhost graph", "version": 1, "blocks": [$(block 1 JGeoGridObj '')], "links": []}
DOC
status=0
"$prefix/bin/flowhost" --seconds 0.2 --table off "$work/map.json" >"$work/gone.out" 2>"$work/gone.err" || status=$?
[ "$status" = 1 ] || { cat "$work/gone.err" >&2; fail "flowhost without its plug-ins: status $status, not 1"; }
expect "$work/gone.err" "default plug-in not found: JGeoGridObj.so (looked in: $plugins/JGeoGridObj.so); the plug-in folder $plugins does not exist"
untouched_by_build "$work/gone.out" "$work/gone.err"
# --plugin-dir still finds them where they went.
"$prefix/bin/flowhost" --plugin-dir "$prefix/$libdir/gps_feed/moved" --seconds 0.2 --table off \
  "$work/map.json" >"$work/moved.out" 2>&1 || { cat "$work/moved.out" >&2; fail "flowhost --plugin-dir"; }
expect "$work/moved.out" "flowhost: plug-in $prefix/$libdir/gps_feed/moved/JGeoGridObj.so (JGeoGridObj)"

echo "install test: installed into and used from $prefix"
