#!/usr/bin/env bash
# Installs what Brevonix needs to build, run and test on Debian 12. Uses sudo when not root.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev libgl-dev
  libldap2-dev libsasl2-dev libkrb5-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # run: the dialog font, Kerberos and SASL GSSAPI for binds
  fonts-dejavu-core libsasl2-modules-gssapi-mit krb5-user ldap-utils xdg-utils shared-mime-info
  # test directories: OpenLDAP slapd and a Samba AD domain controller on loopback
  slapd samba samba-ad-dc samba-ad-provision samba-common-bin python3-samba openssl util-linux iproute2 procps
  python3-ldap3 python3-pyasn1
  # fuzzing
  clang libclang-rt-14-dev
  # looking at it: a virtual screen
  xvfb xauth
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  # Debian's services must not start on their own: the tests run their own servers.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
  fi
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
