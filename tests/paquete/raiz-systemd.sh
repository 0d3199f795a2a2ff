#!/usr/bin/env bash
# The Debian root servicio-systemd.sh boots: made once with debootstrap and
# kept in ~/.cache/quarvel/systemd/raiz-KEY, KEY a hash of the suite, the
# package list and the recipe's version, so that a change in any of them
# makes a new root and a root once made never changes (runs share it).
#   raiz-systemd.sh [PACKAGE...]   prints the root's folder, made if missing
# The packages join the recipe's own, the package's Depends and Recommends
# as they are today: make test makes the root before the package exists,
# and a package that needs nothing new finds that same root.
# Environment:
#   QUARVEL_RAIZ    a folder to use instead (made if missing, else as it is)
#   QUARVEL_MIRROR  the mirror debootstrap uses (default the one apt uses here)
# Exit status: 0 the root is there, 1 it could not be made, 77 it cannot be
# made here (no debootstrap, not root).
set -euo pipefail

receta=1
suite=bookworm
# libpam-systemd and dbus-user-session: a lingering user's own manager and
# bus, as a desktop has them (the upgrade restarts users' checkers).
paquetes=(systemd systemd-sysv dbus procps libpam-systemd dbus-user-session
  libc6 libgcc-s1 libstdc++6 libxcb1 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6
  libqt6dbus6 libqt6serialport6 libqt6charts6 qt6-wayland qt6-translations-l10n)
mapfile -t paquetes < <(printf '%s\n' "${paquetes[@]}" "$@" | sort -u)

cache=${XDG_CACHE_HOME:-$HOME/.cache}/quarvel/systemd
if [ -n "${QUARVEL_RAIZ:-}" ]; then
  raiz=$QUARVEL_RAIZ
else
  clave=$(printf '%s\n' "$receta" "$suite" "${paquetes[@]}" | sha256sum | cut -c 1-12)
  raiz=$cache/raiz-$clave
fi
# A keyed root is renamed into place once whole, and never changed after.
# Its use is stamped beside it (never inside: it may be mounted).
listo() { [ -z "${QUARVEL_RAIZ:-}" ] && [ -d "$raiz" ] && touch "$raiz.usada"; }
listo && { echo "$raiz"; exit 0; }

[ "$(id -u)" = 0 ] || { echo "SKIPPED: needs root (debootstrap)" >&2; exit 77; }
command -v debootstrap >/dev/null ||
  { echo "SKIPPED: no cached root and no debootstrap (apt-get install debootstrap)" >&2; exit 77; }

espejo() {
  [ -n "${QUARVEL_MIRROR:-}" ] && { echo "$QUARVEL_MIRROR"; return; }
  local u
  u=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '/^URIs:/ && $2 ~ /\/debian\/?$/ { print $2; exit }')
  [ -n "$u" ] || u=$(awk '$1 == "deb" && $2 ~ /\/debian\/?$/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
  echo "${u:-http://deb.debian.org/debian}"
}

# One maker per root; whoever comes second waits, then finds it made.
mkdir -p "$(dirname "$raiz")"
exec 9>"$raiz.construir.lock"
flock 9
listo && { echo "$raiz"; exit 0; }

t0=$SECONDS
registro=$raiz.debootstrap.log
if [ -n "${QUARVEL_RAIZ:-}" ] && [ -x "$raiz/lib/systemd/systemd" ]; then
  # A root of the old kind, or one named by hand: what it lacks is added.
  faltan=()
  for p in "${paquetes[@]}"; do
    dpkg-query --admindir="$raiz/var/lib/dpkg" -W -f='${Status}' "$p" 2>/dev/null |
      grep -q 'install ok installed' || faltan+=("$p")
  done
  if [ ${#faltan[@]} -gt 0 ]; then
    echo "adding to $raiz: ${faltan[*]}" >&2
    # shellcheck disable=SC2016 # expanded by the container's shell
    SYSTEMD_SECCOMP=0 timeout 900 systemd-nspawn -q -D "$raiz" --register=no --keep-unit \
      sh -c 'apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@" && apt-get clean' \
      sh "${faltan[@]}" >"$registro" 2>&1 || { echo "could not add ${faltan[*]}: see $registro" >&2; exit 1; }
  fi
else
  echo "building the root once in $raiz from $(espejo) ..." >&2
  # What a stopped debootstrap left, its /proc and /sys mounts too.
  awk -v t="$raiz.tmp/" 'index($2, t) == 1 { print $2 }' /proc/mounts | sort -r | xargs -r umount -l
  rm -rf --one-file-system "$raiz.tmp"
  incluir=$(printf '%s,' "${paquetes[@]}")
  timeout 1800 debootstrap --variant=minbase --include="${incluir%,}" "$suite" "$raiz.tmp" "$(espejo)" \
    >"$registro" 2>&1 || { echo "debootstrap failed: see $registro" >&2; exit 1; }
  chroot "$raiz.tmp" apt-get clean
  echo quarvel-ct >"$raiz.tmp/etc/hostname"
  mv -T "$raiz.tmp" "$raiz"
  touch "$raiz.usada"
  echo "root built in $((SECONDS - t0)) s, $(du -sh "$raiz" | cut -f1)" >&2
fi

# Roots of other recipes unused for two weeks go; one in use holds its lock
# (servicio-systemd.sh).
if [ -z "${QUARVEL_RAIZ:-}" ]; then
  for otra in "$cache"/raiz-*; do
    [ -d "$otra" ] && [ "$otra" != "$raiz" ] && [[ $(basename "$otra") != *.* ]] || continue
    [ -z "$(find "$otra.usada" -mtime -14 2>/dev/null)" ] || continue
    (flock -n 8 && rm -rf "$otra" "$otra".*) 8>"$otra.lock" || true
  done
fi
echo "$raiz"
