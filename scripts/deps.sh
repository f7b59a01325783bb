# Debian packages the build and the tests need; sourced by the scripts.
ZR_DEBIAN_PACKAGES="cmake g++ make pkg-config libgtest-dev libgmock-dev libcli11-dev python3"

zr_install_deps() {
    local missing=()
    for p in $ZR_DEBIAN_PACKAGES; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}
