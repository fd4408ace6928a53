#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the package check
# need, when missing. Idempotent and quiet when everything is already there.
# As root it runs apt-get itself, otherwise through sudo when there is one;
# without either it says in one line what to install, and fails.
set -euo pipefail

packages=(
  # the build
  cmake ninja-build g++ pkg-config
  libomniorb4-dev omniidl
  libboost-program-options-dev libboost-dev
  libyaml-cpp-dev libyaml-dev nlohmann-json3-dev
  # browse: ncursesw (linked statically) and the terminfo entries it reads at run time
  libncurses-dev ncurses-base
  # the tests (python3: two end-to-end tests drive the tool through it;
  # tmux: the completion is tried in an interactive bash in its terminal and
  # the browser's end-to-end tests run it in a pseudo-terminal;
  # python3-numpy loads the files of signal --npy; python3-pyte shows what
  # signal --plot leaves on a terminal)
  libgtest-dev python3 tmux python3-numpy python3-pyte
  # optional: one benchmark (bench_signal_printer), left out of the build without it
  libbenchmark-dev
  # the Debian package and its check (scripts/package.sh)
  dpkg-dev file man-db bash-completion
)
# clang is optional too: it only builds the fuzz targets (-DVELNOR_FUZZ=ON).

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: missing Debian packages; as root run: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  SUDO=(sudo)
fi
echo "setup: installing ${missing[*]}" >&2
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
