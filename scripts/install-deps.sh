#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and the
# screenshot script need. Idempotent: when everything is present it says nothing and
# does not touch the package lists.
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake ninja-build make pkg-config
  # port access checks (ACLs), packaging: Debian packages, man pages, udev rule checks
  libacl1-dev help2man lintian udev man-db file
  # libraries
  qt6-base-dev libgl-dev libcli11-dev libstb-dev libssl-dev
  nlohmann-json3-dev libyaml-cpp-dev libsqlite3-dev
  # tests
  libgtest-dev libgmock-dev imagemagick python3 python3-pil
  # fuzz harnesses (libFuzzer, ASan, UBSan)
  clang
  # desktop tool: Korean captions, offscreen/Xvfb rendering
  fonts-noto-cjk xvfb xauth qt6-translations-l10n
  # the real-driver rig (tests/hil): a VM with Debian's kernel and a busybox initramfs
  qemu-system-x86 busybox-static cpio
  # the Ansible collection (ansible/): ansible-test's sanity, unit and integration tests offline,
  # and the POS boxes reached over SSH inside network namespaces (iproute2 makes them)
  ansible-core openssh-server openssh-client iproute2 python3-venv
  python3-pytest python3-pytest-xdist python3-pytest-mock python3-pytest-forked python3-mock
  python3-jinja2 python3-yaml python3-resolvelib python3-packaging python3-cryptography
  python3-voluptuous python3-pycodestyle yamllint
)

missing=()
for p in "${PACKAGES[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
