#!/usr/bin/env bash
# Installs with apt-get whatever the build and the tests need and is missing.
# Idempotent and quiet when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libqrcodegencpp-dev
  rapidjson-dev libssl-dev libcurl4-openssl-dev libcpp-httplib-dev
  librsvg2-dev
  # Reads the QR code on the screen back in the panels' UI tests.
  zbar-tools
  openssl ca-certificates
  mingw-w64 wine wine64 xvfb xauth
  # The dialog's fonts under Wine: Noto Sans, the CJK faces, a Thai face that also has Latin.
  fonts-noto-core fonts-noto-cjk fonts-tlwg-loma-otf
  # The UI tests run each language under its own system locale (LC_ALL of the Wine process).
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Locales of the sixteen languages of the dialog's texts; Wine's system locale follows LC_ALL
# only for a locale that is generated.
locales=(en_US de_DE fr_FR es_ES it_IT pt_BR pt_PT nl_NL pl_PL ru_RU tr_TR ja_JP ko_KR zh_CN zh_TW th_TH)
available="$(locale -a 2>/dev/null | tr 'A-Z' 'a-z')"
generate=()
for l in "${locales[@]}"; do
  lower="$(echo "$l.utf8" | tr 'A-Z' 'a-z')"
  grep -qx "$lower" <<<"$available" || generate+=("$l")
done
if [ ${#generate[@]} -gt 0 ]; then
  echo "setup: generating locales ${generate[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  for l in "${generate[@]}"; do
    grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$l.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  done
  $SUDO locale-gen >/dev/null
fi
