# Sourced by the set-up scripts: makes sure the build dependencies are there.
# As root it installs what is missing with apt-get; otherwise it names the
# packages to install and fails.
vortan_need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -q >/dev/null || true
        apt-get install -y -q "${missing[@]}" >/dev/null || {
            echo "apt-get could not install: ${missing[*]}" >&2
            return 1
        }
    else
        echo "Missing packages: ${missing[*]}" >&2
        echo "Install them with: sudo apt-get install ${missing[*]}" >&2
        return 1
    fi
}

VORTAN_BASE_PACKAGES=(cmake g++ make libgoogle-glog-dev libgtest-dev libbenchmark-dev
                      libpng-dev libopenexr-dev libjpeg62-turbo-dev libtiff-dev zlib1g-dev
                      libembree-dev)
