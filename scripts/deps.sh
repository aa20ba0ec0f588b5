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
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
  libsqlite3-dev libsystemd-dev libmosquitto-dev libasound2-dev libcrypt-dev
  fonts-liberation2)
