#!/bin/bash
# Builds the Debian package from the build folder into a temporary folder,
# unpacks it there with dpkg -x and checks what it installs and declares.
# Usage: package_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
# Exit status 77 is a skip for ctest; `make test` installs every one of these.
for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli groff; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (make deps installs it)"; exit 77; }
done

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb="$work/out/vexmorchm_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls -l "$work/out"; fail "no $deb"; }

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libc6 libstdc++6 libqt6widgets6; do
  grep -q "\b$needed\b" <<<"$depends" || fail "Depends lacks $needed"
done
[ "$(dpkg-deb -f "$deb" Package)" = vexmorchm ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
# The long description: the text as written, continuation lines of one space.
description=$(dpkg-deb -f "$deb" Description)
grep -q "rebuilding the file's inner folder tree" <<<"$description" || fail "description: $description"
! grep -q '^ ;' <<<"$description" || fail "description carries list separators: $description"

root="$work/root"
dpkg -x "$deb" "$root"
for file in \
  usr/bin/vexmorchm usr/bin/vexmorchm-cli \
  usr/share/applications/vexmorchm.desktop \
  usr/share/metainfo/io.github.vexmor.vexmorchm.metainfo.xml \
  usr/share/icons/hicolor/32x32/apps/vexmorchm.png usr/share/icons/hicolor/48x48/apps/vexmorchm.png \
  usr/share/icons/hicolor/64x64/apps/vexmorchm.png usr/share/icons/hicolor/128x128/apps/vexmorchm.png \
  usr/share/man/man1/vexmorchm.1.gz usr/share/man/man1/vexmorchm-cli.1.gz; do
  [ -f "$root/$file" ] || fail "the package lacks /$file"
done
[ -x "$root/usr/bin/vexmorchm" ] && [ -x "$root/usr/bin/vexmorchm-cli" ] || fail "programs not executable"
# Nothing outside /usr, nothing of the build (tests, benchmark) inside it.
unexpected=$(cd "$root" && find . -type f | grep -v -E '^\./usr/(bin/vexmorchm(-cli)?|share/(applications|metainfo|icons|man)/)' || true)
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"

# The installed files as users' tools see them.
desktop-file-validate "$root/usr/share/applications/vexmorchm.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.vexmor.vexmorchm.metainfo.xml" || fail "appstreamcli validate"
for page in vexmorchm vexmorchm-cli; do
  warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | LC_ALL=C.UTF-8 groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
done
# The version stated by hand in the metainfo and the manuals is the project's.
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/io.github.vexmor.vexmorchm.metainfo.xml" ||
  fail "the metainfo's latest release is not $version"
for page in vexmorchm vexmorchm-cli; do
  zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH .*\"VexmorChm $version\"" || fail "$page.1 is not of version $version"
done
"$root/usr/bin/vexmorchm-cli" --version | grep -qx "vexmorchm-cli $version" || fail "the packaged vexmorchm-cli does not run"
echo "package ok: $(basename "$deb")"
