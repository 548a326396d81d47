#!/usr/bin/env bash
# Builds the Debian package from this build, unpacks it into a scratch root and runs the
# programs from there, the console through its desktop entry's Exec line.
# usage: check_deb.sh BINARY_DIR VERSION SCRATCH
set -euo pipefail
bin=$1 version=$2 scratch=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch"
cpack -G DEB --config "$bin/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$scratch/out/tarvel_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb; made: $(ls "$scratch/out")"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libmodbus5 libqt6widgets6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
# Nothing that runs as root: no maintainer scripts, no set-id programs.
scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'inst$|rm$' || true)
[ -z "$scripts" ] || fail "maintainer scripts: $scripts"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/tarvel usr/bin/tarvel-cli usr/bin/tarvel-sim \
  usr/share/applications/tarvel.desktop usr/share/metainfo/io.github.tarvel.tarvel.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/tarvel.svg usr/share/icons/hicolor/48x48/apps/tarvel.png \
  usr/share/icons/hicolor/256x256/apps/tarvel.png usr/share/man/man1/tarvel.1.gz \
  usr/share/man/man1/tarvel-cli.1.gz usr/share/man/man1/tarvel-sim.1.gz \
  usr/share/bash-completion/completions/tarvel-cli \
  usr/bin/tarvel-line usr/share/man/man1/tarvel-line.1.gz usr/lib/systemd/user/tarvel-line.service; do
  [ -f "$root/$file" ] || fail "the package lacks /$file"
done
setid=$(find "$root" -perm /6000)
[ -z "$setid" ] || fail "set-id files: $setid"
[[ $(zcat "$root/usr/share/man/man1/tarvel-cli.1.gz") == *"Tarvel $version"* ]] || fail "man page without the version"

[ "$("$root/usr/bin/tarvel-cli" --version)" = "tarvel-cli $version" ] || fail "tarvel-cli --version"
[ "$("$root/usr/bin/tarvel-sim" --version)" = "tarvel-sim $version" ] || fail "tarvel-sim --version"
[ "$("$root/usr/bin/tarvel-line" --version)" = "tarvel-line $version" ] || fail "tarvel-line --version"
# Units name their program bare: a path configured at build time (/usr/local) is not the package's.
grep -q "^ExecStart=tarvel-line " "$root/usr/lib/systemd/user/tarvel-line.service" || fail "the unit does not start tarvel-line"
grep -q "^ExecStart=tarvel-cli " "$root/usr/lib/systemd/user/tarvel-watch@.service" || fail "the watch unit's ExecStart"
[[ $("$root/usr/bin/tarvel-sim" --help) == "usage: tarvel-sim --units"* ]] || fail "tarvel-sim --help"
export QT_QPA_PLATFORM=offscreen
[ "$("$root/usr/bin/tarvel" --version)" = "Tarvel $version" ] || fail "tarvel --version"

exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/tarvel.desktop")
read -r -a command <<<"$exec_line"
PATH=$root/usr/bin:$PATH
[ "$(command -v "${command[0]}")" = "$root/usr/bin/tarvel" ] || fail "Exec=$exec_line is not the packaged tarvel"
"${command[@]}" --simulate --home "$scratch/home" --screenshot "$scratch/shot.png" 2>"$scratch/tarvel.log" ||
  { cat "$scratch/tarvel.log"; fail "the packaged tarvel did not start"; }
[ -s "$scratch/shot.png" ] || fail "no picture from the packaged tarvel"
echo "$(basename "$deb"): Depends: $depends"
