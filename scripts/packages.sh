# The Debian packages the project's scripts need, and a function that installs the missing
# ones (apt-get update once, then only what is missing). Sourced by the scripts.

BUILD_PACKAGES=(cmake make g++ libx11-dev libxrandr-dev pkg-config)
# A private X display (tests/e2e/xdisplay.sh) needs xauth for its cookie and python3 to hold
# its number.
DISPLAY_PACKAGES=(xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils xauth python3)
TEST_PACKAGES=("${BUILD_PACKAGES[@]}" "${DISPLAY_PACKAGES[@]}"
  libgtest-dev googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
  osslsigncode openssl
  wixl msitools python3-yaml lintian dpkg-dev file
  xdotool imagemagick
  clang libclang-rt-14-dev util-linux procps python3)
# valgrind's memcheck runs the store's unit tests in scripts/test.
TEST_PACKAGES+=(valgrind)
BENCH_PACKAGES=("${BUILD_PACKAGES[@]}" libbenchmark-dev)

install_missing() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -q >/dev/null &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" >/dev/null
}
