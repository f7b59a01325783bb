#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a C
# consumer (through pkg-config) and a C++ consumer (through find_package)
# against the installed tree only.
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
test -L "$prefix/lib/libzrreader.so" || { echo "libzrreader.so link missing"; exit 1; }
soname=$(objdump -p "$prefix/lib/libzrreader.so" | awk '/SONAME/ {print $2}')
[ "$soname" = "libzrreader.so.1" ] || { echo "unexpected SONAME $soname"; exit 1; }

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
cc -Wall -Werror -o "$work/c_consumer" "$src/consumer_c/main.c" $(pkg-config --cflags --libs zrreader)
LD_LIBRARY_PATH=$prefix/lib "$work/c_consumer"

cmake -S "$src/consumer_cpp" -B "$work/cpp" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cpp" >/dev/null
"$work/cpp/consumer"   # the imported target carries the run path of the installed library
echo "install consumers passed"
