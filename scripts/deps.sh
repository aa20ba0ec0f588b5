# Sourced by the set-up scripts: installs the Debian packages that are missing, and only those.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building the program needs.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev
  qt6-httpserver-dev qt6-websockets-dev qt6-multimedia-dev libgl-dev
  libsqlite3-dev libsystemd-dev libmosquitto-dev libasound2-dev libcrypt-dev
  fonts-liberation2)

# Node and npm for the browser tests. A machine that has node with npm beside it (NodeSource's
# nodejs bundles npm, and then Debian's npm package conflicts with it) keeps them; one without
# node gets Debian's nodejs and npm, which go together.
ensure_node_and_npm() {
  command -v node > /dev/null || ensure_packages nodejs npm
  command -v npm > /dev/null || ensure_packages npm
}
