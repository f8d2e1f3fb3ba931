#!/usr/bin/env bash
# Builds the Debian packages from the build tree, unpacks them, checks what a user gets and lets
# lintian judge them. Arguments: the build tree.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; exit 1; }
names=(ornavel libornavel-debug0 libornavel-debug-dev)
declare -A package root
for name in "${names[@]}"; do
  found=("$work"/out/"${name}"_*.deb)
  [ ${#found[@]} -eq 1 ] && [ -f "${found[0]}" ] || { echo "no single ${name}_*.deb"; exit 1; }
  package[$name]=${found[0]}
  root[$name]=$work/root/$name
  mkdir -p "${root[$name]}"
  dpkg-deb -x "${found[0]}" "${root[$name]}"
done
built=$(find "$work/out" -maxdepth 1 -name '*.deb' | wc -l)
[ "$built" -eq ${#names[@]} ] ||
  { echo "$built packages built, not ${#names[@]}:"; ls "$work/out"; exit 1; }

version=$(dpkg-deb -f "${package[ornavel]}" Version)

# Each package holds exactly its files, so that none lands in another package. The library's
# folder depends on the prefix: a multiarch folder is written usr/lib/ here.
expected_files() {
  local docs="usr/share/doc/$1/changelog.gz usr/share/doc/$1/copyright"
  case $1 in
    ornavel) echo "$docs usr/bin/ornavel usr/bin/ornavel-debug
      usr/share/applications/ornavel.desktop usr/share/icons/hicolor/scalable/apps/ornavel.svg
      usr/share/metainfo/org.ornavel.Ornavel.metainfo.xml
      usr/share/man/man1/ornavel.1.gz usr/share/man/man1/ornavel-debug.1.gz" ;;
    libornavel-debug0)
      echo "$docs usr/lib/libornavel-debug.so.0 usr/lib/libornavel-debug.so.$version" ;;
    libornavel-debug-dev) echo "$docs usr/include/ornavel-debug.h usr/lib/libornavel-debug.so" ;;
  esac
}
for name in "${names[@]}"; do
  actual=$(cd "${root[$name]}" && find . ! -type d |
    sed 's|^\./||; s|^usr/lib/[^/]*-linux-[^/]*/|usr/lib/|' | sort)
  # shellcheck disable=SC2046 # one name a word
  expected=$(printf '%s\n' $(expected_files "$name") | sort)
  [ "$actual" = "$expected" ] || { echo "$name: files expected (<) and packaged (>) differ:"
    diff <(echo "$expected") <(echo "$actual"); exit 1; }
done
library=$(find "${root[libornavel-debug0]}/usr/lib" -type f -name "libornavel-debug.so.$version")

program=${root[ornavel]}
desktop-file-validate "$program/usr/share/applications/ornavel.desktop"
appstreamcli validate --no-net "$program/usr/share/metainfo/org.ornavel.Ornavel.metainfo.xml"
for page in ornavel ornavel-debug; do
  warnings=$(zcat "$program/usr/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
  [ -z "$warnings" ] || { echo "man page $page: $warnings"; exit 1; }
done

# Dependencies come from the binaries: the window's Qt libraries among them.
depends=$(dpkg-deb -f "${package[ornavel]}" Depends)
grep -q 'libqt6widgets6' <<< "$depends" || { echo "Depends lacks Qt Widgets: $depends"; exit 1; }
depends=$(dpkg-deb -f "${package[libornavel-debug0]}" Depends)
grep -q '^libc6 (>= ' <<< "$depends" ||
  { echo "the library's Depends lacks libc6: $depends"; exit 1; }
depends=$(dpkg-deb -f "${package[libornavel-debug-dev]}" Depends)
[ "$depends" = "libornavel-debug0 (= $version)" ] ||
  { echo "the development package's Depends: $depends"; exit 1; }

# The symbols file lists exactly what the library exports.
dpkg-deb -e "${package[libornavel-debug0]}" "$work/control"
exported=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRVW]$/ {print $3 "@Base"}' | sort)
listed=$(awk '/^ / {print $1}' "$work/control/symbols" | sort)
[ "$exported" = "$listed" ] ||
  { echo "exported (<) and listed symbols (>) differ:"; diff <(echo "$exported") <(echo "$listed")
    exit 1; }

output=$(XDG_CONFIG_HOME=$work/config "$program/usr/bin/ornavel" --version)
[ "$output" = "Ornavel $version" ] || { echo "unexpected --version: $output"; exit 1; }

# lintian at its most telling. Errors and warnings always fail; the informational and pedantic
# tags below are allowed, each for its reason, and any other fails.
allowed=(
  # CPack strips with plain strip, as dh_strip would not: the toolchain's version notes stay.
  'binary-has-unneeded-section \.comment'
  # Built with the project's compiler flags, not with dpkg-buildflags' hardening set.
  'hardening-no-bindnow' 'hardening-no-fortify-functions'
  # Not a word: bytes of machine code that read as a misspelling.
  'spelling-error-in-binary wTH with'
)
# Not failing on tags, lintian fails only when it could not check.
report=$(lintian -i -I --pedantic --fail-on none "${package[@]}" 2>&1)
tags=$(grep -E '^[EWIPX]: ' <<< "$report" || true)
pattern=$(printf '^[IPX]: [^ ]+: (%s)( |$)\n' "${allowed[@]}")
unexpected=$(grep -v -E -f <(echo "$pattern") <<< "$tags" || true)
[ -z "$unexpected" ] ||
  { echo "lintian:"; echo "$report"; echo "not allowed:"; echo "$unexpected"; exit 1; }

echo "${names[*]}: files, metadata, man pages, dependencies, symbols, --version and lintian checked"
