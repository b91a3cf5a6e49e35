#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian 12 machine: the
# compilers, GoogleTest, MinGW and Wine for the Windows builds, clang and its
# libFuzzer for the fuzz targets, Samba's libraries and controller for the
# Samba back-end and its tests, and what the packages are made and checked
# with (dpkg-shlibdeps, man, unzip).
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -o DPkg::Lock::Timeout=600
$SUDO apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=600 \
  cmake make g++ libgtest-dev libgmock-dev googletest libbenchmark-dev \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  wine wine64 xvfb xauth xdotool imagemagick fonts-wqy-microhei \
  python3 procps iproute2 locales ccache clang-14 libclang-rt-14-dev \
  dpkg-dev man-db unzip \
  libldap-dev libsasl2-dev libsasl2-modules-gssapi-mit samba-dev \
  samba samba-ad-dc samba-ad-provision samba-dsdb-modules smbclient ldap-utils krb5-user ldb-tools util-linux
