# Shared by the set-up commands. Sourced, not run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libpcre2-dev libpugixml-dev qt6-base-dev
  qt6-wayland libsystemd-dev libxcb1-dev dpkg-dev file)
TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev systemd-journal-remote desktop-file-utils
  appstream groff-base lintian xvfb openbox xfwm4 icewm dbus-daemon x11-utils xdotool)
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

# The three test trees: optimised, ThreadSanitizer, AddressSanitizer with UndefinedBehaviorSanitizer.
# The sanitizer trees are built lightly optimised with line tables only: enough for their reports,
# and about half the build time of RelWithDebInfo.
# They run the real-X tests under openbox alone: the other window managers are the release tree's.
SANITIZED=(-DCMAKE_BUILD_TYPE=None "-DCMAKE_C_FLAGS=-O1 -g1" "-DCMAKE_CXX_FLAGS=-O1 -g1" -DORNAVEL_BENCH=OFF
  -DORNAVEL_X11_WINDOW_MANAGERS=openbox)

# build_suite SUITE: configures (once) and builds the tree of release, tsan or asan.
build_suite() {
  case $1 in
    release) build_tree build/release -DCMAKE_BUILD_TYPE=Release ;;
    tsan) build_tree build/tsan "${SANITIZED[@]}" -DORNAVEL_SANITIZER=thread ;;
    asan) build_tree build/asan "${SANITIZED[@]}" -DORNAVEL_SANITIZER=address ;;
  esac
}

# run_suite SUITE [CTEST OPTIONS...]: runs the tree's tests with its sanitizer's options.
run_suite() {
  local suite=$1
  shift
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
    ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" \
    ctest --test-dir "build/$suite" --output-on-failure -j "$(nproc)" "$@"
}
