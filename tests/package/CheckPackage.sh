#!/usr/bin/env bash
# Builds the Debian package from the build tree, unpacks it and checks what a user gets.
# Arguments: the build tree.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" ||
  { cat "$work/cpack.log"; exit 1; }
packages=("$work"/out/ornavel_*_amd64.deb)
[ ${#packages[@]} -eq 1 ] && [ -f "${packages[0]}" ] || { echo "no single ornavel_*_amd64.deb"; exit 1; }
package=${packages[0]}

root=$work/root
dpkg-deb -x "$package" "$root"
for file in usr/bin/ornavel usr/bin/ornavel-debug usr/include/ornavel-debug.h \
  "usr/lib/libornavel-debug.so.0 usr/lib/*/libornavel-debug.so.0" \
  usr/share/applications/ornavel.desktop \
  usr/share/icons/hicolor/scalable/apps/ornavel.svg \
  usr/share/metainfo/org.ornavel.Ornavel.metainfo.xml usr/share/man/man1/ornavel.1; do
  # Where a line names several places (the library's folder depends on the prefix), one will do.
  found=
  for place in $file; do compgen -G "$root/$place" > /dev/null && found=1; done
  [ -n "$found" ] || { echo "missing from the package: $file"; exit 1; }
done

desktop-file-validate "$root/usr/share/applications/ornavel.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.ornavel.Ornavel.metainfo.xml"
warnings=$(groff -man -ww -z "$root/usr/share/man/man1/ornavel.1" 2>&1)
[ -z "$warnings" ] || { echo "man page: $warnings"; exit 1; }

# Dependencies come from the binary: the window's Qt libraries among them.
depends=$(dpkg-deb -f "$package" Depends)
grep -q 'libqt6widgets6' <<< "$depends" || { echo "Depends lacks Qt Widgets: $depends"; exit 1; }

version=$(XDG_CONFIG_HOME=$work/config "$root/usr/bin/ornavel" --version)
[ "$version" = "Ornavel $(dpkg-deb -f "$package" Version)" ] ||
  { echo "unexpected --version: $version"; exit 1; }
echo "$(basename "$package"): files, metadata, man page, dependencies and --version checked"
