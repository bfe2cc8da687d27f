# SPDX-License-Identifier: MIT
# Sourced by run.sh and test.sh. ensure_packages installs the Debian packages
# named that are not installed yet; apt-get update runs at most once a run.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    if [ -z "${TARNWICK_APT_UPDATED:-}" ]; then
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
        export TARNWICK_APT_UPDATED=1
    fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What every build needs; libmicrohttpd-dev brings the HTTP server's library,
# which the package's Depends name through dpkg-shlibdeps.
BUILD_PACKAGES=(cmake ninja-build g++ pkgconf libgtest-dev qt6-base-dev libseccomp-dev libmicrohttpd-dev
    fonts-dejavu-core)
# What the tests need besides: the TFTP servers they transfer files with
# (dnsmasq in a network namespace made with iproute2), the command-line clients
# the server is tried with, setcap for the port 69 helper's test, gdb to inject
# calls into the confined server, addgroup for
# the package's postinst, the tools that check an installation, and those that
# check the sources' style; QEMU, its iPXE ROMs, OVMF and iPXE's boot files for
# the firmware that boots from the server.
TEST_PACKAGES=(tftpd-hpa tftp-hpa atftp busybox curl dnsmasq-base iproute2 libcap2-bin adduser gdb desktop-file-utils
    appstream appstream-compose lintian dpkg-dev xvfb xauth xdotool clang-format clang-tidy
    qemu-system-x86 ovmf ipxe-qemu ipxe)
