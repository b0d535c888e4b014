#!/usr/bin/env bash
# package_test.sh <source dir> <package build dir>
# Builds the Debian package and checks its files, control data, unit and
# lintian's verdict, then starts the packaged KorventComp as the unit would.
set -euo pipefail
source_dir=$1 build=$2
work=$(mktemp -d /tmp/korvent-package-XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

deb=$("$source_dir/scripts/package" "$build" | tail -n 1)
[ -f "$deb" ] || fail "scripts/package made no package"
echo "package_test: $deb"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
for pattern in '^\./usr/bin/KorventComp$' '^\./usr/bin/korvent-map$' '^\./etc/korvent/rtc\.conf$' \
               '^\./lib/systemd/system/korventcomp\.service$' '^\./usr/include/korvent/Client\.h$' \
               '^\./usr/include/korvent/idl/Korvent\.hh$' '^\./usr/lib/[^/]*/korvent/libkorvent_client\.a$' \
               '^\./usr/lib/[^/]*/cmake/Korvent/KorventConfig\.cmake$' '^\./usr/lib/[^/]*/pkgconfig/korvent\.pc$' \
               '^\./usr/share/korvent/idl/Korvent\.idl$' '^\./usr/share/korvent/idl/RTC\.idl$' \
               '^\./usr/share/man/man1/KorventComp\.1\.gz$' '^\./usr/share/man/man1/korvent-map\.1\.gz$' \
               '^\./usr/share/doc/korventcomp/copyright$' '^\./usr/share/doc/korventcomp/changelog\.gz$'; do
  grep -q "$pattern" "$work/files" || fail "no file matching $pattern in the package"
done
! grep -q '^\./usr/local/' "$work/files" || fail "files under /usr/local"

[ "$(dpkg-deb -f "$deb" Package)" = korventcomp ] || fail "package name"
dpkg-deb -f "$deb" Depends | grep -q 'libomniorb4-2' || fail "Depends lacks omniORB: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libddsc0debian' || fail "Depends lacks Cyclone DDS: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -I "$deb" conffiles | grep -qx '/etc/korvent/rtc.conf' || fail "rtc.conf is not a conffile"

mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"
unit=$work/root/lib/systemd/system/korventcomp.service
for line in 'DynamicUser=yes' 'StateDirectory=korvent' 'Restart=on-failure' 'ProtectSystem=strict' \
            'ProtectHome=yes' 'NoNewPrivileges=yes' 'PrivateTmp=yes' \
            'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK' 'WantedBy=multi-user.target'; do
  grep -qx "$line" "$unit" || fail "the unit lacks $line"
done
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
case "$exec_start" in
  "/usr/bin/KorventComp -f /etc/korvent/rtc.conf -o korvent.map.store:/var/lib/korvent/"*) ;;
  *) fail "unexpected ExecStart: $exec_start" ;;
esac
if command -v systemd-analyze >/dev/null; then
  # Checked where the packaged program really lies, as it is not installed here.
  sed "s|^ExecStart=/usr/bin/|ExecStart=$work/root/usr/bin/|" "$unit" >"$work/korventcomp.service"
  systemd-analyze verify --man=no "$work/korventcomp.service" || fail "systemd-analyze rejects the unit"
fi

lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || true
cat "$work/lintian"
! grep -q '^E: ' "$work/lintian" || fail "lintian reports errors"

# The packaged program with the unit's command line starts and stops
# cleanly; the name server is one nobody serves, so nothing outside sees it.
names_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
read -r -a args <<<"${exec_start#/usr/bin/KorventComp }"
args=("${args[@]/\/etc\/korvent\/rtc.conf/$work/root/etc/korvent/rtc.conf}")
args=("${args[@]/\/var\/lib\/korvent/$work/state}")
mkdir "$work/state"  # as the unit's StateDirectory= has systemd make it
"$work/root/usr/bin/KorventComp" "${args[@]}" -o "corba.nameservers:127.0.0.1:$names_port" \
  2>"$work/korvent.err" &
pid=$!
# It says once that the name server does not answer, then keeps serving.
for _ in $(seq 200); do
  grep -q . "$work/korvent.err" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null || fail "the packaged KorventComp ended: $(cat "$work/korvent.err")"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "the packaged KorventComp ended with status $status: $(cat "$work/korvent.err")"
echo "package_test: files, control data, unit and lintian as expected; the packaged KorventComp starts and stops"
