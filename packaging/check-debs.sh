#!/usr/bin/env bash
# Checks the Debian packages of a build: their contents (dpkg -c), their dependencies (the
# CLI and the simulator without Qt), lintian, then installs them with dpkg into a fresh
# root that knows the host's installed packages (so Depends and file conflicts are checked
# for real) and runs what was installed: the programs, the man pages through man, the bash
# completion through bash, the udev rule through udevadm verify where udevadm has it, and
# asks the installed desktop tool where its help pages are.
# Usage: packaging/check-debs.sh <folder with the .deb files>
set -euo pipefail
dir=${1:?usage: check-debs.sh PACKAGE_FOLDER}
fail() { echo "check-debs: FAIL: $*" >&2; exit 1; }
step() { echo "check-debs: $*"; }

deb_of() {
  local found=("$dir/$1"_*.deb)
  [ -f "${found[0]}" ] || fail "no $1 package in $dir"
  echo "${found[0]}"
}
ctl=$(deb_of tavroctl)
sim=$(deb_of tavro-sim)
debs=("$ctl" "$sim")
gui=
if compgen -G "$dir/tavroset_*.deb" >/dev/null; then
  gui=$(deb_of tavroset)
  debs+=("$gui")
fi

expect_files() {
  local deb=$1; shift
  local listing
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for f in "$@"; do
    grep -qx "./$f" <<<"$listing" || fail "$(basename "$deb") lacks /$f"
  done
}
step "contents"
expect_files "$ctl" usr/bin/tavroctl usr/lib/udev/rules.d/60-tavroset.rules \
  usr/share/man/man1/tavroctl.1.gz usr/share/bash-completion/completions/tavroctl \
  usr/share/doc/tavroctl/copyright usr/share/doc/tavroctl/changelog.gz
expect_files "$sim" usr/bin/tavro-sim usr/share/man/man1/tavro-sim.1.gz usr/share/doc/tavro-sim/copyright
if [ -n "$gui" ]; then
  expect_files "$gui" usr/bin/tavroset usr/share/applications/tavroset.desktop \
    usr/share/icons/hicolor/scalable/apps/tavroset.svg usr/share/man/man1/tavroset.1.gz \
    usr/share/tavroset/help/en/index.html usr/share/tavroset/help/ko/index.html
  # F1's pages: every English page has its Korean one, and the other way round.
  help_pages=$(dpkg-deb -c "$gui" | awk '{print $6}' | sed -n 's#^\./usr/share/tavroset/help/\(en\|ko\)/##p' | sort)
  for page in $(sort -u <<<"$help_pages"); do
    [ "$(grep -cx "$page" <<<"$help_pages")" = 2 ] || fail "tavroset's help page $page is not there in both languages"
  done
  gui_deps=$(dpkg-deb -f "$gui" Depends)
  grep -q 'tavroctl (= ' <<<"$gui_deps" || fail "tavroset does not depend on its tavroctl"
  grep -q 'libqt6widgets6' <<<"$gui_deps" || fail "tavroset's Depends lack Qt (dpkg-shlibdeps did not run?)"
fi
for deb in "$ctl" "$sim"; do
  deps=$(dpkg-deb -f "$deb" Depends)
  grep -q 'libc6' <<<"$deps" || fail "$(basename "$deb"): Depends without libc6 (dpkg-shlibdeps did not run?)"
  if grep -qi 'qt' <<<"$deps"; then fail "$(basename "$deb") depends on Qt: $deps"; fi
done

step "lintian"
if command -v lintian >/dev/null; then
  # E and W tags fail; the I tags left are explained in packaging/README.md.
  tags=$(lintian --fail-on none "${debs[@]}" 2>/dev/null | grep -E '^(E|W): ' || true)
  [ -z "$tags" ] || fail "lintian: $tags"
else
  fail "lintian is not installed (scripts/install-deps.sh installs it)"
fi

step "install into a fresh root"
root=$(mktemp -d /tmp/tavro-debroot-XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib"
# The host's package database: the Depends are checked against what is really installed.
cp -a /var/lib/dpkg "$root/var/lib/dpkg"
rm -f "$root/var/lib/dpkg/lock" "$root/var/lib/dpkg/lock-frontend" "$root/var/lib/dpkg/triggers/Lock"
# No shell in the root, so triggers of other packages (man-db) stay pending.
dpkg --root="$root" --no-triggers --log=/dev/null -i "${debs[@]}" >/dev/null || fail "dpkg -i"
for pkg in tavroctl tavro-sim ${gui:+tavroset}; do
  status=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' "$pkg")
  [ "$status" = "install ok installed" ] || fail "$pkg: $status"
done

step "copyright"
# Every package carries the project's own copyright file, unchanged.
source_copyright="$(dirname "$0")/copyright"
for pkg in tavroctl tavro-sim ${gui:+tavroset}; do
  cmp -s "$source_copyright" "$root/usr/share/doc/$pkg/copyright" ||
    fail "$pkg: /usr/share/doc/$pkg/copyright differs from packaging/copyright"
done
grep -qx 'License: Apache-2.0' "$source_copyright" || fail "packaging/copyright does not name the Apache-2.0 licence"

step "run the installed programs"
version=$("$root/usr/bin/tavroctl" --version) || fail "tavroctl --version"
[[ $version == "tavroctl "* ]] || fail "tavroctl --version printed: $version"
echo "  $version"
# Each program's whole output is taken before it is searched: a grep -q that stops reading at
# the first match would kill a program still writing (SIGPIPE) and fail the step by chance.
help=$("$root/usr/bin/tavro-sim" --help) || fail "tavro-sim --help exited $?"
grep -q 'virtual TAVRO' <<<"$help" || fail "tavro-sim --help does not name the virtual TAVRO printer"
if [ -n "$gui" ]; then
  gui_version=$("$root/usr/bin/tavroset" --version) || fail "tavroset --version exited $?"
  grep -q '^tavroset ' <<<"$gui_version" || fail "tavroset --version printed: $gui_version"
  # The installed tool finds its help pages beside itself (no override from this shell).
  help_folder=$(env -u TAVRO_HELP_DIR "$root/usr/bin/tavroset" --help-folder) || fail "tavroset --help-folder exited $?"
  [ "$(realpath "$help_folder")" = "$(realpath "$root/usr/share/tavroset/help")" ] ||
    fail "the installed tavroset looks for its help in $help_folder"
  echo "  help pages: ${help_folder#"$root"}"
fi

step "man pages"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || echo "man failed")
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  rendered=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null) || fail "$(basename "$page"): man exited $?"
  grep -q '^SYNOPSIS\|^NAME' <<<"$rendered" || fail "$(basename "$page") renders empty"
done

step "bash completion"
completed=$(bash -c 'source "$1"; COMP_WORDS=(tavroctl do); COMP_CWORD=1; _tavroctl; echo "${COMPREPLY[*]}"' _ \
  "$root/usr/share/bash-completion/completions/tavroctl")
[ "$completed" = doctor ] || fail "bash completion of 'tavroctl do' gave '$completed'"

step "udev rule"
if udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$root/usr/lib/udev/rules.d/60-tavroset.rules" || fail "udevadm verify"
else
  echo "  udevadm $(udevadm --version 2>/dev/null || echo '(missing)') has no verify; the rule is checked by the tests"
fi
step "all packages good: ${debs[*]##*/}"
