# Shared by the set-up commands. Sourced, not run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libpcre2-dev libpugixml-dev qt6-base-dev
  libsystemd-dev libxcb1-dev dpkg-dev file)
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev systemd-journal-remote desktop-file-utils
  appstream groff-base xvfb openbox x11-utils xdotool)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# Installs the Debian packages that are missing, and nothing when all are there.
ensure_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" ||
    { "${sudo[@]}" apt-get update && "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; }
}

# build_tree DIR [CMAKE OPTIONS...] [-- TARGETS...]: configures DIR once, then builds what changed.
build_tree() {
  local dir=$1
  shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targets=("$@")
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DORNAVEL_WERROR=ON "${options[@]}"
  fi
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" --target "${targets[@]}"
  else
    cmake --build "$dir"
  fi
}
