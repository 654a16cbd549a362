#!/usr/bin/env bash
# Usage: check_install.sh BUILD_DIR CONSUMER_SOURCE SCRATCH_DIR
set -euo pipefail
build=$1 consumer=$2 scratch=$3
rm -rf "$scratch"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

lib=$(ls "$prefix"/lib*/libmox_utils.so.* 2>/dev/null | head -n 1)
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
[[ $soname == libmox_utils.so.1 ]] || { echo "unexpected SONAME '$soname'"; exit 1; }
[ -x "$prefix/bin/mox" ] || { echo "mox not installed"; exit 1; }

# CMake package.
cmake -S "$consumer" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
"$scratch/cmake-build/consumer"

# pkg-config.
libdir=$(dirname "$lib")
export PKG_CONFIG_PATH=$libdir/pkgconfig
c++ -o "$scratch/consumer-pc" "$consumer/consumer.cpp" $(pkg-config --cflags --libs mox_utils) -Wl,-rpath,"$libdir"
"$scratch/consumer-pc"
echo "install check passed"
