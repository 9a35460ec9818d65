#!/usr/bin/env bash
# Builds the Debian package from a configured and built build folder, unpacks it into a scratch
# folder and starts the unpacked program once, offscreen, with every XDG folder (and HOME) in
# scratch folders: it must start, find its help pages under share/zervo-daq/help and write its
# Sys.ini into the scratch XDG_CONFIG_HOME, and nothing may appear beside the programs.
#
#   scripts/package-test.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-build}")

fail() { echo "package test: $*" >&2; exit 1; }

OUT=$BUILD/package
rm -rf "$OUT"
(cd "$BUILD" && cpack -G DEB -B "$OUT" >/dev/null 2>"$OUT.log") || { cat "$OUT.log"; fail "cpack failed"; }
shopt -s nullglob
debs=("$OUT"/zervo-daq_*_amd64.deb)
((${#debs[@]} == 1)) || fail "expected one zervo-daq_<version>_amd64.deb in $OUT, found ${#debs[@]}"
DEB=${debs[0]}
echo "package: $DEB"

# Dependencies: computed from the binaries, plus the run-time plugins shlibdeps cannot see.
depends=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $depends"
for dep in libqt6widgets6 libqt6serialport6 libqcustomplot2.1-qt6 libc6 qt6-qpa-plugins; do
  re="(^|[ ,])$dep([ ,(]|\$)"
  [[ $depends =~ $re ]] || fail "Depends lacks $dep"
done

# Every file of the package is in its list; no maintainer script makes others.
listing=$(dpkg-deb -c "$DEB" | awk '{print $6}')
for f in usr/bin/zervo-daq usr/bin/zvdat usr/bin/meter-sim \
         usr/share/zervo-daq/help/help.html usr/share/zervo-daq/help/SystermIntroduction.htm \
         usr/share/applications/zervo-daq.desktop usr/share/mime/packages/zervo-daq.xml \
         usr/share/icons/hicolor/scalable/apps/zervo-daq.svg \
         usr/share/icons/hicolor/scalable/mimetypes/application-x-zvdat.svg \
         usr/share/man/man1/zervo-daq.1.gz usr/share/man/man1/zvdat.1.gz usr/share/man/man1/meter-sim.1.gz; do
  grep -qx "\./$f" <<<"$listing" || fail "$f is not in the package"
done
if grep -qx './usr/bin/zvrec' <<<"$listing"; then
  grep -qx './usr/share/man/man1/zvrec.1.gz' <<<"$listing" || fail "zvrec has no man page"
fi
S=$(mktemp -d "${TMPDIR:-/tmp}/zervo-package.XXXXXX")
trap 'rm -rf "$S"' EXIT
dpkg-deb -e "$DEB" "$S/control"
scripts=$(ls "$S/control" | grep -vx -e control -e md5sums || true)
[[ -z $scripts ]] || fail "unexpected maintainer files: $scripts"

dpkg-deb -x "$DEB" "$S/root"
mkdir -p "$S/home" "$S/config" "$S/data" "$S/cache" "$S/state" "$S/run"
chmod 700 "$S/run"
before=$(cd "$S/root" && find . | sort)
run() {
  env -i PATH=/usr/bin:/bin LANG=C.UTF-8 LC_ALL=C.UTF-8 HOME="$S/home" QT_QPA_PLATFORM=offscreen \
    XDG_CONFIG_HOME="$S/config" XDG_DATA_HOME="$S/data" XDG_CACHE_HOME="$S/cache" \
    XDG_STATE_HOME="$S/state" XDG_RUNTIME_DIR="$S/run" timeout 120 "$@"
}
report=$(run "$S/root/usr/bin/zervo-daq" --self-check) || { echo "$report"; fail "zervo-daq --self-check failed"; }
echo "$report" | sed 's/^/  /'
grep -qx "layout: installed" <<<"$report" || fail "the unpacked program does not see its installed layout"
grep -qx "settings: $S/config/zervo-daq/Sys.ini (written)" <<<"$report" || fail "Sys.ini is not in XDG_CONFIG_HOME"
grep -qx "help: $S/root/usr/share/zervo-daq/help/help.html (found)" <<<"$report" || fail "help pages not found under share"
grep -q '^FirstRun=0' "$S/config/zervo-daq/Sys.ini" || fail "Sys.ini lacks FirstRun=0"
after=$(cd "$S/root" && find . | sort)
[[ $before == "$after" ]] || fail "the program wrote into its installed folders: $(diff <(echo "$before") <(echo "$after") | grep '^>')"
[[ ! -e $S/data/applications/zervo-daq.desktop ]] || fail "a per-user desktop entry was written for the installed program"
[[ -z $(ls -A "$S/home") ]] || fail "something was written into HOME: $(ls -A "$S/home")"

run "$S/root/usr/bin/zvdat" --help >/dev/null || fail "zvdat --help failed"
run "$S/root/usr/bin/meter-sim" --help >/dev/null || fail "meter-sim --help failed"
echo "package test: ok"
