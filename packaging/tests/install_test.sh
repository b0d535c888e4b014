#!/usr/bin/env bash
# install_test.sh <build dir> <README.md> [<compiler and linker flags>]
# Installs the build into a temporary prefix, checks the layout, builds the
# README's client example against it (find_package and pkg-config) and runs
# it against the installed KorventComp and a private omniNames.
set -euo pipefail
build=$1 readme=$2 flags=${3:-}
work=$(mktemp -d /tmp/korvent-install-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/KorventComp bin/korvent-map include/korvent/Client.h include/korvent/idl/Korvent.hh \
         share/korvent/idl/Korvent.idl share/korvent/idl/BasicDataType.idl share/korvent/rtc.conf \
         share/man/man1/KorventComp.1.gz share/man/man1/korvent-map.1.gz lib/systemd/system/korventcomp.service; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
for page in KorventComp korvent-map; do
  zcat "$prefix/share/man/man1/$page.1.gz" | grep -q '^\.SH NAME' || fail "$page.1 is not a man page"
done

# The README's example, exactly as written there.
mkdir "$work/consumer"
# The first C++ block is the client example; later ones are fragments.
awk '/^```cpp$/ { inside = 1; next } inside && /^```$/ { exit } inside' "$readme" >"$work/consumer/main.cpp"
grep -q 'korvent::Client' "$work/consumer/main.cpp" || fail "no client example in $readme"
cat >"$work/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(consumer LANGUAGES CXX)
find_package(Korvent 1 REQUIRED)
add_executable(consumer main.cpp)
target_compile_features(consumer PRIVATE cxx_std_17)
target_link_libraries(consumer PRIVATE Korvent::client)
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
pcdir=$(dirname "$(find "$prefix" -name korvent.pc)")
# shellcheck disable=SC2046,SC2086
g++ -std=c++17 $flags "$work/consumer/main.cpp" -o "$work/consumer/by-pkg-config" \
    $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs korvent)

# Both builds against the installed component.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/names"
omniNames -start "$port" -datadir "$work/names" -ORBendPoint "giop:tcp:127.0.0.1:$port" >"$work/names.log" 2>&1 &
pids+=($!)
(cd / && exec "$prefix/bin/KorventComp" -f "$prefix/share/korvent/rtc.conf" -o "corba.nameservers:127.0.0.1:$port") \
  >"$work/korvent.log" 2>&1 &
pids+=($!)
for program in "$work/consumer/build/consumer" "$work/consumer/by-pkg-config"; do
  # Until the component has bound its name: at most 20 s.
  ok=""
  for _ in $(seq 200); do
    output=$("$program" "127.0.0.1:$port" 2>&1) && { ok=1; break; }
    sleep 0.1
  done
  [ -n "$ok" ] && [ "$output" = "640 x 480, 307200 bytes" ] ||
    fail "$program printed '$output'; component: $(cat "$work/korvent.log")"
done
echo "install_test: layout complete; the README example builds with find_package and pkg-config and runs"
