#!/bin/sh
# The release archives that ./build.sh package writes: lists what each holds,
# requires exactly the files a release promises, runs the Linux programs
# unpacked from the tar.gz and from the .deb on the bundled example, and
# checks that the Blender add-on's zip carries the release's version.
#
#   package_test.sh DIST VERSION EXAMPLE_DIR
set -eu
dist=$(cd "$1" && pwd)
version=$2
example=$(cd "$3" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/anim3d-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# expect_files WHAT LISTING EXPECTED: the sorted file names of an archive.
expect_files() {
  if [ "$2" != "$3" ]; then
    fail "$1 holds"
    echo "$2"
    echo "instead of"
    echo "$3"
  fi
}

# Only the files of a listing, one a line, without a leading "./".
files_of() { grep -v '/$' | sed 's|^\./||' | sort; }

# run_programs DIR WHAT: converts the bundled example with DIR's frameconv,
# checks it with DIR's inspect3d, and merges it twice with DIR's clipmerge.
run_programs() {
  bin=$1
  what=$2
  run=$work/run-$what
  mkdir -p "$run/merge"
  cp "$example"/*.obj "$run/"
  message=$(cd "$run" && "$bin/frameconv") && status=0 || status=$?
  [ "$status" -eq 1 ] && [ "$message" = "Conversion Complete: Conversion Complete" ] ||
    fail "$what frameconv: exit status $status, \"$message\""
  (cd "$run" && "$bin/inspect3d" check >check.txt) && status=0 || status=$?
  [ "$status" -eq 0 ] && [ "$(tail -n 1 "$run/check.txt")" = "result: ok" ] ||
    fail "$what inspect3d check: exit status $status, \"$(tail -n 1 "$run/check.txt")\""
  cp "$run/aniv00.3d" "$run/merge/a1.3d"
  cp "$run/aniv00.3d" "$run/merge/a2.3d"
  message=$(cd "$run/merge" && "$bin/clipmerge") && status=0 || status=$?
  [ "$status" -eq 1 ] && [ "$message" = "Conversion Complete: Conversion Complete" ] ||
    fail "$what clipmerge: exit status $status, \"$message\""
  frames=$(cd "$run/merge" && "$bin/inspect3d" info aniv00.3d | sed -n 's/^  frame count *//p')
  [ "$frames" = 48 ] || fail "$what: the merged clips hold \"$frames\" frames, not 48"
  shown=$("$bin/inspect3d" --version) || true
  [ "$shown" = "inspect3d $version" ] || fail "$what inspect3d --version says \"$shown\""
  echo "-- $what: frameconv, inspect3d check and clipmerge ran on the bundled example"
}

# The pages the README links to, which go beside it.
pages=$(cd "$(dirname "$0")/../docs" && ls ./*.md ./*.png | sed 's|^\./||')

zip=$dist/anim3d-$version-windows-x86.zip
tgz=$dist/anim3d-$version-linux-x86_64.tar.gz
deb=$dist/anim3d_${version}_amd64.deb
addon=$dist/anim3d-$version-blender-addon.zip
for archive in "$zip" "$tgz" "$deb" "$addon"; do
  [ -f "$archive" ] || { echo "FAILED: no $archive (./build.sh package makes it)"; exit 1; }
done

echo "-- $(basename "$zip")"
cmake -E tar tvf "$zip"
top=anim3d-$version-windows-x86
expect_files zip "$(cmake -E tar tf "$zip" | files_of)" "$(printf '%s\n' \
  "$top/README.txt" "$top/clipmerge.exe" "$top/frameconv.exe" "$top/inspect3d.exe" | sort)"
(cd "$work" && cmake -E tar xf "$zip")
readme=$work/$top/README.txt
# Windows line ends: every line ends in CR LF, and the text says its version.
lines=$(wc -l <"$readme")
crlf_lines=$(grep -c "$(printf '\r')\$" "$readme" || true)
[ "$lines" -gt 0 ] && [ "$lines" -eq "$crlf_lines" ] || fail "README.txt: $crlf_lines of $lines lines end in CR LF"
head -n 1 "$readme" | grep -q "^anim3d $version for Windows" || fail "README.txt does not open with its version"

echo "-- $(basename "$tgz")"
tar tvzf "$tgz"
top=anim3d-$version-linux-x86_64
expect_files tar.gz "$(tar tzf "$tgz" | files_of)" "$( (printf '%s\n' \
  "$top/README.md" "$top/bin/clipmerge" "$top/bin/frameconv" "$top/bin/inspect3d"; echo "$pages" | sed "s|^|$top/docs/|") | sort)"
(cd "$work" && tar xzf "$tgz")
run_programs "$work/$top/bin" tar.gz

echo "-- $(basename "$deb")"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
expect_files .deb "$(dpkg-deb --fsys-tarfile "$deb" | tar tf - | files_of)" "$( (printf '%s\n' \
  usr/bin/clipmerge usr/bin/frameconv usr/bin/inspect3d usr/share/doc/anim3d/README.md
  echo "$pages" | sed 's|^|usr/share/doc/anim3d/docs/|') | sort)"
dpkg-deb -x "$deb" "$work/deb"
# No Depends: right only while every program needs no shared library.
depends=$(dpkg-deb --field "$deb" Depends)
for program in frameconv clipmerge inspect3d; do
  needed=$(readelf --dynamic "$work/deb/usr/bin/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  if [ -z "$depends" ] && [ -n "$needed" ]; then fail ".deb: no Depends, but $program needs $needed"; fi
done
run_programs "$work/deb/usr/bin" .deb

echo "-- $(basename "$addon")"
cmake -E tar tvf "$addon"
# The add-on's sources, as the source tree has them.
sources=$(cd "$(dirname "$0")/../blender/anim3d" && ls ./*.py blender_manifest.toml | sed 's|^\./||' | sort)
expect_files "add-on zip" "$(cmake -E tar tf "$addon" | files_of)" "$(echo "$sources" | sed 's|^|anim3d/|')"
(cd "$work" && cmake -E tar xf "$addon")
numbers=$(echo "$version" | sed 's/\./, /g')
grep -q "\"version\": ($numbers)," "$work/anim3d/__init__.py" || fail "the add-on does not say it is version $version"

# The extension, built where a Blender 4.2 or later was at hand: the same
# files at its top, its manifest of this version.
extension=$dist/anim3d-$version-blender-extension.zip
if [ -f "$extension" ]; then
  echo "-- $(basename "$extension")"
  expect_files extension "$(cmake -E tar tf "$extension" | files_of)" "$sources"
  mkdir "$work/extension"
  (cd "$work/extension" && cmake -E tar xf "$extension")
  grep -qx "version = \"$version\"" "$work/extension/blender_manifest.toml" ||
    fail "the extension does not say it is version $version"
else
  echo "-- no $(basename "$extension"): no Blender 4.2 or later was at hand to build it"
fi

# The web page's zip: the page and its README, which says its version.
web=$dist/anim3d-$version-web.zip
if [ -f "$web" ]; then
  echo "-- $(basename "$web")"
  cmake -E tar tvf "$web"
  expect_files "web zip" "$(cmake -E tar tf "$web" | files_of)" "$(printf '%s\n' \
    "anim3d-$version-web/README.txt" "anim3d-$version-web/anim3d.html")"
  (cd "$work" && cmake -E tar xf "$web")
  grep -q "anim3d $version in the browser" "$work/anim3d-$version-web/README.txt" ||
    fail "the web zip's README does not say it is version $version"
else
  echo "-- no $(basename "$web"): the web page was not built (./build.sh web)"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "-- the archives hold what a release promises"
