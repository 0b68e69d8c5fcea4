#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the finished build into a folder and runs it from another prefix
# it is moved to; then builds the Debian package, installs it with apt as a
# user would, runs the installed programs outside the source and build
# trees, and removes the package again, so that the machine is left as it
# was. Installing the package needs root, which CI has; elsewhere that part
# is skipped (exit 77).
# Usage: test_deb.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
apt=(apt-get -o DPkg::Lock::Timeout=600 -y -qq)

# Canonical, as the programs name the modules they load.
work=$(realpath "$(mktemp -d)")
installed=no
cleanup() {
  if [[ $installed == yes ]]; then
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge patchwright >/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# An installed tree, moved to another prefix and run through PATH from a
# folder of its own, finds its modules beside its programs, and never in the
# build tree it was made from: without them, it says what is missing.
cmake --install "$build" --prefix "$work/staged" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install failed"; }
mv "$work/staged" "$work/moved"
mkdir "$work/elsewhere"
cd "$work/elsewhere"
tree=$(realpath "$build")
moved_run() {
  PATH="$work/moved/bin:$PATH" LD_DEBUG=files patchwright-cli "$@" 2>>"$work/moved.log"
}
moved_run fractal --out maps --hurst 0.5 --cover 30 --size 16 --format tif --quiet ||
  { tail "$work/moved.log"; fail "the moved tree's batch failed"; }
grep -q "file=$work/moved/lib.*/patchwright/libpatchwright_gdal.so" "$work/moved.log" ||
  fail "the moved tree did not load its own GDAL module"
[[ -f maps/FBM_0.50_030_00001.tif ]] || fail "the moved tree wrote no GeoTIFF: $(ls maps)"
moved_run render maps/FBM_0.50_030_00001.tif --out preview.png --quiet ||
  { tail "$work/moved.log"; fail "the moved tree's render failed"; }
grep -q "file=$work/moved/lib.*/patchwright/libpatchwright_render.so" "$work/moved.log" ||
  fail "the moved tree did not load its own render module"
find "$work/moved" -name 'libpatchwright_*.so' -delete
if moved_run fractal --out maps2 --hurst 0.5 --cover 30 --size 16 --format tif --quiet ||
  ! grep -q "GeoTIFF support is missing" "$work/moved.log"; then
  fail "without its GDAL module, the moved tree did not say so: $(tail -3 "$work/moved.log")"
fi
if moved_run render maps/FBM_0.50_030_00001.tif --out preview2.png --quiet ||
  ! grep -q "previews cannot be drawn" "$work/moved.log"; then
  fail "without its render module, the moved tree did not say so: $(tail -3 "$work/moved.log")"
fi
! grep "file=$tree/" "$work/moved.log" || fail "the installed program loaded from the build tree"
cd /

if [[ $(id -u) -ne 0 ]]; then
  echo "SKIP: installing a .deb needs root (CI runs as root)"
  exit 77
fi
if dpkg-query -W -f='${Status}' patchwright 2>/dev/null | grep -q "install ok installed"; then
  echo "SKIP: a patchwright package is installed already, which this test would remove"
  exit 77
fi

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not build the package"; }
deb=$(echo "$work"/package/patchwright_"$version"_*.deb)
[[ -f $deb ]] || fail "no patchwright_${version}_*.deb in $work/package"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libqt6core6 libqt6widgets6 libgdal; do
  [[ $depends == *"$library"* ]] || fail "the package does not depend on $library"
done
for family in random fractal Gaussian; do
  dpkg-deb -f "$deb" Description | grep -q "$family" || fail "the description does not name $family maps"
done
# The binaries go stripped, their symbols into a package of their own.
dbgsym=$(echo "$work"/package/patchwright-dbgsym_"$version"_*.ddeb)
[[ -f $dbgsym ]] || fail "no patchwright-dbgsym_${version}_*.ddeb in $work/package"

installed=yes
DEBIAN_FRONTEND=noninteractive "${apt[@]}" install --no-install-recommends "$deb" >/dev/null

cd "$work"
[[ $(/usr/bin/patchwright-cli --version) == "patchwright-cli $version" ]] ||
  fail "/usr/bin/patchwright-cli --version says '$(/usr/bin/patchwright-cli --version)'"
# A GeoTIFF batch needs the GDAL module, which the installed program must
# find in the installed tree and not in the build tree it was made in, also
# when it is found through PATH and started in a folder of the user's.
LD_DEBUG=files PATH=/usr/bin:$PATH patchwright-cli fractal --out maps --hurst 0.5:0.5:1 --cover 30:40:10 \
  --size 16 --format tif --quiet 2>"$work/loader.log" || { tail "$work/loader.log"; fail "the batch failed"; }
grep -q "file=/usr/lib/.*patchwright/libpatchwright_gdal.so" "$work/loader.log" ||
  fail "the GDAL module was not loaded from /usr/lib: $(grep -m1 libpatchwright_gdal "$work/loader.log")"
[[ $(ls maps/*.tif | wc -l) == 2 ]] || fail "expected 2 GeoTIFFs, got: $(ls maps)"
# Previews come from the render module, likewise found in the installed tree.
LD_DEBUG=files PATH=/usr/bin:$PATH patchwright-cli render maps/FBM_0.50_030_00001.tif --out preview.png \
  --quiet 2>"$work/render.log" || { tail "$work/render.log"; fail "render failed"; }
grep -q "file=/usr/lib/.*patchwright/libpatchwright_render.so" "$work/render.log" ||
  fail "the render module was not loaded from /usr/lib: $(grep -m1 libpatchwright_render "$work/render.log")"
[[ -s preview.png ]] || fail "render wrote no preview"
[[ $(head -1 maps/FBM_manifest.csv) == *",version" ]] || fail "the manifest has no version column"
[[ $(tail -1 maps/FBM_manifest.csv) == *",$version" ]] || fail "the manifest names another version"

# Read whole before it is searched: grep -q stops at the first match, and
# with pipefail the SIGPIPE that zcat may then get would fail the check.
zcat /usr/share/man/man1/patchwright-cli.1.gz >"$work/manual.txt"
grep -q -- 'hurst' "$work/manual.txt" ||
  fail "the manual page does not describe the fractal command's options"
# Roff fills the lines of a paragraph into one: each example is a paragraph.
zcat /usr/share/man/man1/patchwright-cli.1.gz |
  awk '/^\.(IP|PP|SH|SS)/ { n = 0 } /^patchwright\\-cli / { if (++n > 1) bad = 1 } END { exit bad }' ||
  fail "the manual page runs two examples into one paragraph"
zcat /usr/share/man/man1/patchwright.1.gz | grep -q 'Gaussian field' ||
  fail "the window has no manual page naming its batches"
# Every document and picture the README links is where the link leads.
for linked in $(grep -o '(docs/[^)#]*' /usr/share/doc/patchwright/README.md | cut -c2- | sort -u); do
  [[ -f /usr/share/doc/patchwright/$linked ]] || fail "the README links $linked, which is not installed"
done
build_id=$(readelf -n /usr/bin/patchwright-cli | awk '/Build ID/ { print $3 }')
if readelf -S /usr/bin/patchwright-cli | grep -q debug_info; then
  fail "/usr/bin/patchwright-cli is not stripped"
fi
[[ $(dpkg-deb -c "$dbgsym") == *"/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"* ]] ||
  fail "the dbgsym package holds no symbols for /usr/bin/patchwright-cli (build id $build_id)"
# shellcheck disable=SC2016
bash -c 'source /usr/share/bash-completion/completions/patchwright-cli
  COMP_WORDS=(patchwright-cli fractal --hur); COMP_CWORD=2; _patchwright_cli
  [[ ${COMPREPLY[*]} == --hurst ]] || exit 1
  COMP_WORDS=(patchwright-cli fr); COMP_CWORD=1; _patchwright_cli
  [[ ${COMPREPLY[*]} == fractal ]]' || fail "bash completion does not complete the commands and options"
for file in /usr/bin/patchwright /usr/share/applications/patchwright.desktop \
  /usr/share/icons/hicolor/scalable/apps/patchwright.svg /usr/share/doc/patchwright/LICENSE; do
  [[ -f $file ]] || fail "$file is not installed"
done
if ldd /usr/bin/patchwright | grep -q "not found"; then
  fail "/usr/bin/patchwright misses libraries: $(ldd /usr/bin/patchwright | grep 'not found')"
fi
echo "installed, ran and removed $(basename "$deb")"
