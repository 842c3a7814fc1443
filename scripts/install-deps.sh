#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing,
# so that a machine that already has them does not wait for apt.
set -euo pipefail

packages=(g++ cmake make pkg-config libncurses-dev libsqlite3-dev libcairo2-dev
          fonts-dejavu-core libgtest-dev libgmock-dev libbenchmark-dev tmux
          poppler-utils librsvg2-dev libqrencode-dev zbar-tools libxml2-utils nettle-dev
          libcurl4-openssl-dev openssl python3-aiosmtpd
          # the sending mode: OpenSSL, libxml2; its tests: python3-lxml
          libssl-dev libxml2-dev python3 python3-lxml
          # the invoice page: text set with Pango
          libpango1.0-dev
          # the not-sending mode: XAdES signatures with libxmlsec1; its tests: xmlsec1
          libxmlsec1-dev libxmlsec1-openssl xmlsec1)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
