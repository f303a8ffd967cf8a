# Sourced by the set-up scripts: installs the Debian packages the project needs
# when they are missing (as root), or prints the command that would.
varnak_packages=(build-essential cmake ninja-build ccache pkg-config python3
  qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev
  libliquid-dev libsndfile1-dev libsoapysdr-dev libfftw3-dev
  fonts-dejavu-core fonts-dejavu-extra clang libclang-rt-14-dev help2man
  clang-tidy clang-format
  libmosquitto-dev libcurl4-openssl-dev libqt6sql6-sqlite libqt6sql6-psql qt6-httpserver-dev qt6-websockets-dev
  mosquitto mosquitto-clients postgresql
  chromium chromium-driver python3-selenium)
# Only for scripts/package.sh: the Debian packages and their checks
# (librsvg2-bin: packaging/desktop/render-icon.sh redraws the icon's picture).
varnak_packaging_packages=(dpkg-dev lintian desktop-file-utils appstream librsvg2-bin)

ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Missing packages. Run:  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
}
