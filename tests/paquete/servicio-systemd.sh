#!/usr/bin/env bash
# The package's system unit under a real systemd: a Debian 12 root booted with
# systemd-nspawn over a throwaway overlay, the .deb installed offline, a
# simulated clock on a pseudo-terminal, quarvel430@NAME enabled and started,
# its journal, history and metrics read, a second instance on the same clock
# refused, a device policy that refuses the port (the instance must end in
# error and be started again), then stopped, and the package reinstalled
# (a user's checker restarting too) and removed while the instance runs, and
# purged of what the guide has the administrator add.
#   servicio-systemd.sh DEB_DIR|PACKAGE.deb
# Environment:
#   QUARVEL_RAIZ    a root to use instead of the cached one (raiz-systemd.sh,
#                   which makes it once with debootstrap)
#   QUARVEL_MIRROR  the mirror debootstrap uses (default the one apt uses here)
#   QUARVEL_GUARDAR a folder that receives the container's journal at the end
# Exit status: 0 all passed, 1 a check failed or the set-up broke, 77 skipped.
# shellcheck disable=SC2016 # single-quoted text runs in the container or under eval
set -uo pipefail

deb=${1:?DEB_DIR or PACKAGE.deb}
if [ -d "$deb" ]; then
  deb=$(compgen -G "$deb/quarvel_*.deb" | head -n 1)
fi
nombre=sala # the instance, and the clock's folder /var/lib/quarvel/$nombre
maquina=qvprueba$$

[ "$(id -u)" = 0 ] || { echo "SKIPPED: needs root (systemd-nspawn)"; exit 77; }
command -v systemd-nspawn >/dev/null || { echo "SKIPPED: no systemd-nspawn (apt-get install systemd-container)"; exit 77; }
command -v nsenter >/dev/null || { echo "SKIPPED: no nsenter (util-linux)"; exit 77; }

t0=$SECONDS
aprobados=0
fallos=0
ok() { echo "ok: $*"; aprobados=$((aprobados + 1)); }
falla() { echo "FAIL: $*"; fallos=$((fallos + 1)); }
info() { echo "info: $*"; }
comprobar() { # comprobar DESCRIPTION COMMAND...
  local que=$1
  shift
  if "$@"; then ok "$que"; else falla "$que"; return 1; fi
}
igual() { comprobar "$1 ($3)" test "$3" = "$2"; }
aborta() { echo "ERROR: $*" >&2; exit 1; }
# esperar SECONDS COMMAND...: COMMAND until it holds, 0.2 s between tries.
esperar() {
  local hasta=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$hasta" ] || return 1
    sleep 0.2
  done
}

[ -f "$deb" ] || aborta "no package at $deb"
deb=$(realpath "$deb")

# --- The cached root ------------------------------------------------------------
# The package's Depends and Recommends, as names (the first of alternatives).
dependencias() {
  dpkg-deb -f "$deb" Depends Recommends | sed 's/^[A-Za-z-]*://' | tr ',' '\n' |
    sed 's/|.*//; s/(.*)//; s/:any//; s/[[:space:]]//g' | grep -v '^$' | sort -u
}
mapfile -t deps < <(dependencias)
# Held shared while the container runs, so the root is not pruned under it;
# make test may be making it now (scripts/probar-todo.sh): then this waits.
for _ in 1 2; do
  raiz=$(bash "$(dirname "$0")/raiz-systemd.sh" "${deps[@]}")
  estado=$?
  [ $estado -eq 77 ] && { echo "SKIPPED: no root for the container"; exit 77; }
  [ $estado -eq 0 ] || aborta "no root for the container"
  exec 7<>"$raiz.lock"
  flock -s 7
  [ -d "$raiz" ] && break
done
info "root $raiz ($((SECONDS - t0)) s)"

# --- The container ----------------------------------------------------------------
trabajo=$(mktemp -d /tmp/prueba-systemd.XXXXXX)
nspawn=
# A signal may arrive inside a function whose output goes to a log: the end
# writes where the script's own output went.
exec 8>&1 9>&2
fin() {
  local s=$?
  exec 1>&8 2>&9
  [ -n "${senal:-}" ] && echo "ERROR: interrupted by $senal" >&2
  if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
    [ -n "${QUARVEL_GUARDAR:-}" ] && mkdir -p "$QUARVEL_GUARDAR" &&
      en_ct journalctl -b --no-pager -o short-precise >"$QUARVEL_GUARDAR/journal.txt" 2>&1
    # SIGTERM: nspawn asks the container's systemd to power off.
    kill -TERM "$nspawn" 2>/dev/null
    esperar 20 eval '! kill -0 "$nspawn" 2>/dev/null' || kill -KILL "$nspawn" 2>/dev/null
    wait "$nspawn" 2>/dev/null
  fi
  [ -n "${QUARVEL_GUARDAR:-}" ] && cp "$trabajo/nspawn.log" "$QUARVEL_GUARDAR/" 2>/dev/null
  rm -rf "$trabajo"
  echo "($((SECONDS - t0)) s)"
  exit "$s"
}
trap fin EXIT
# shellcheck disable=SC2064 # the signal name is meant to expand now
for s in INT TERM HUP; do trap "senal=SIG$s; exit 1" "$s"; done

# --volatile=overlay: the cached root read-only under a tmpfs that goes with
# the container. --private-network: offline, and the unit's PrivateNetwork=
# can bring its loopback up (it needs CAP_NET_ADMIN, kept only then).
# SYSTEMD_SECCOMP=0: nspawn's own filter would refuse bpf() and with it the
# unit's device policy. The unified hierarchy, whatever the host mixes.
# --register=no --keep-unit: no systemd-machined nor systemd on the host.
SYSTEMD_SECCOMP=0 SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 setsid systemd-nspawn -q -D "$raiz" \
  --volatile=overlay --private-network -b --register=no --keep-unit -M "$maquina" \
  --console=passive >"$trabajo/nspawn.log" 2>&1 </dev/null &
nspawn=$!
pid1=
buscar_pid1() {
  kill -0 "$nspawn" 2>/dev/null || aborta "systemd-nspawn ended: $(tail -n 5 "$trabajo/nspawn.log")"
  pid1=$(pgrep -P "$nspawn" -x systemd | head -n 1)
  [ -n "$pid1" ]
}
esperar 20 buscar_pid1 || aborta "no systemd in the container after 20 s"
# Its root and folder too: where this runs chrooted, the container's mount
# namespace is rooted at the host's root, not the container's.
en_ct() { # en_ct COMMAND...: run in the container, a clean environment
  nsenter -t "$pid1" -a -r -w env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}
arrancado() {
  buscar_pid1 || return 1
  estado=$(en_ct systemctl is-system-running 2>/dev/null)
  case $estado in running | degraded) return 0 ;; *) return 1 ;; esac
}
t=$SECONDS
esperar 90 arrancado || aborta "the container did not boot in 90 s (state: ${estado:-?})"
info "booted in $((SECONDS - t)) s ($estado)"
[ "$estado" = degraded ] && info "failed units: $(en_ct systemctl --failed --no-legend --plain | awk '{printf "%s ", $1}')"

# --- The package ------------------------------------------------------------------
en_ct sh -c 'cat >/root/quarvel.deb' <"$deb" || aborta "could not copy the package in"
t=$SECONDS
en_ct env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /root/quarvel.deb \
  >"$trabajo/apt-install.log" 2>&1
igual "apt-get installs the package offline in $((SECONDS - t)) s" 0 "$?" ||
  aborta "install failed: $(tail -n 5 "$trabajo/apt-install.log")"
comprobar "the package made the user quarvel, in dialout" \
  eval 'en_ct id -nG quarvel | grep -qw dialout'
comprobar "systemd finds the template" en_ct systemctl cat "quarvel430@$nombre.service" >/dev/null

# --- The clock and its settings, as an administrator writes them (root's) -------------
carpeta=/var/lib/quarvel/$nombre
en_ct sh -c "mkdir -p $carpeta && cd $carpeta &&
  printf '%s\r\n' '[COM_PORT]' 1 '' '[COM_CFG]' 9600,N,8,1 >qv.ini &&
  for t in 1 2 3 4 5 6 7; do printf '%s\r\n' '' \"[T\$t]\" ' 100 ' >>qv.ini; done &&
  printf '5\r\n' >qv_int.ini" || aborta "could not write the settings"
# The simulator as quarvel, its link in its own runtime folder; the clock's
# folder gets a link to the same pseudo-terminal, as udev gives a real one.
en_ct systemd-run -q --unit=qv-simulador -p User=quarvel -p Group=quarvel \
  -p RuntimeDirectory=qv-simulador \
  simulador_reloj --dir /run/qv-simulador --quiet --offset -3600 || aborta "the simulator did not start"
esperar 10 en_ct test -L /run/qv-simulador/COM1 || aborta "the simulator made no COM1 in 10 s"
pty=$(en_ct readlink /run/qv-simulador/COM1)
en_ct ln -sfn "$pty" "$carpeta/COM1" || aborta "could not link COM1"
info "simulated clock on $pty"

# --- The service --------------------------------------------------------------------
unidad=quarvel430@$nombre.service
en_ct systemctl enable --now "$unidad" >"$trabajo/enable.log" 2>&1
igual "systemctl enable --now $unidad" 0 "$?"
# diario: the instance's journal lines as "<PRIORITY>MESSAGE", in order.
diario() {
  local p
  for p in 0 1 2 3 4 5 6 7; do
    en_ct journalctl -q --no-pager -t Quarvel430 -p "$p..$p" -o short-unix --no-hostname |
      sed -n "s/^\([0-9.]*\) Quarvel430\[[0-9]*\]: /\1 <$p>/p"
  done | sort -n | cut -d ' ' -f 2-
}
dice() { diario | grep -q "$1"; }
comprobar "the start line" \
  esperar 20 dice "^<6>Quarvel430 1\.0\.0 en $carpeta: puerto COM1 (→ /dev/pts/[0-9]*), 9600,N,8,1, chequeo cada 5 min, métricas en /var/lib/quarvel/metricas$"
comprobar "the start-up update" esperar 20 dice '^<6>puesta en hora enviada: '
en_ct systemctl kill -s USR1 --kill-who=main "$unidad"
# The read-back goes out near a change of minute: up to about 70 s.
t=$SECONDS
comprobar "the asked-for read-back" esperar 90 dice '^<6>reloj en hora ('
info "read-back $((SECONDS - t)) s after SIGUSR1"
comprobar "the history has a row with pc_sincronizado" \
  esperar 10 eval "en_ct awk -F';' 'NR == 1 && \$7 != \"pc_sincronizado\" { exit 1 } NR > 1 && \$7 != \"\" { f = 1 } END { exit !f }' $carpeta/historial.csv"
comprobar "the metrics have quarvel_pc_sincronizado" \
  esperar 10 eval "en_ct sh -c 'grep -q \"^quarvel_pc_sincronizado{carpeta=\\\"$carpeta\\\",puerto=\\\"COM1\\\"} [01]\$\" /var/lib/quarvel/metricas/*.prom'"
comprobar "the folder and what the checker wrote belong to quarvel" \
  eval "[ -z \"\$(en_ct find $carpeta /var/lib/quarvel/metricas ! -user quarvel)\" ]"
graves=$(diario | grep -c '^<[0-3]>')
igual "no journal line at error priority or worse" 0 "$graves"
# One clock, one checker: a second instance whose folder links the same
# device is refused, naming the first one's process and folder.
otra=/var/lib/quarvel/hall
en_ct sh -c "mkdir -p $otra && cp $carpeta/qv.ini $carpeta/qv_int.ini $otra/ && ln -s $pty $otra/COM1 &&
  chown -R quarvel:quarvel $otra && systemctl start quarvel430@hall.service"
primero=$(en_ct systemctl show -P MainPID "$unidad")
comprobar "a second instance on the clock is refused, naming the first (PID $primero)" \
  esperar 20 dice "^<3>El puerto COM1 → $pty ya lo usa Quarvel430 (proceso $primero) en la carpeta $carpeta: "
en_ct systemctl stop quarvel430@hall.service
info "systemd's notes on the unit: $(en_ct journalctl -q --no-pager -u "$unidad" -o short --no-hostname |
  grep -v ' Quarvel430\[' | cut -d ' ' -f 4- |
  grep -v -e ': Start' -e ': Stopp' -e ': Deactivated' -e ': Sent signal' |
  sort -u | tr '\n' '|')"

en_ct systemctl stop "$unidad"
igual "systemctl stop" 0 "$?"
igual "the unit's result" success "$(en_ct systemctl show -P Result "$unidad")"
igual "the checker's exit status" 0 "$(en_ct systemctl show -P ExecMainStatus "$unidad")"

# --- A port the device policy refuses ---------------------------------------------------
# As an adapter whose driver came after the start: the open fails with EPERM
# though the user may use the device. The checker says so and ends in error,
# and systemd starts it again.
arranques() { diario | grep -c '^<6>Quarvel430 1\.0\.0 en '; }
n=$(arranques)
gota=/run/systemd/system/$unidad.d
en_ct sh -c "mkdir -p $gota && printf '%s\n' '[Service]' DevicePolicy=strict 'DeviceAllow=/dev/null rw' \
  'DeviceAllow=/dev/urandom r' >$gota/vedado.conf && systemctl daemon-reload && systemctl start $unidad"
comprobar "a refused port is told as the device policy" \
  esperar 30 dice '^<3>.*El sistema no deja abrir el puerto COM1 .*política de dispositivos'
comprobar "the checker then ends in error" esperar 10 dice '^<3>Quarvel430: termina con estado 1'
comprobar "systemd starts it again" \
  esperar 40 eval '[ "$(en_ct systemctl show -P NRestarts "$unidad")" -ge 1 ] && [ "$(arranques)" -ge $((n + 2)) ]'
en_ct sh -c "systemctl stop $unidad; rm -r $gota; systemctl daemon-reload; systemctl reset-failed $unidad" 2>/dev/null

# --- The device policy ----------------------------------------------------------------
# The unit's DevicePolicy= and DeviceAllow= on a probe opening character nodes:
# a serial line (ttyS, 4:64), a USB adapter's (ttyUSB, 188:0, no driver here),
# one not allowed (loop-control, 10:237). EPERM is the policy; ENXIO no driver.
en_ct sh -c 'mknod /root/ttyS0 c 4 64; mknod /root/ttyUSB0 c 188 0; mknod /root/loopctl c 10 237'
mapfile -t politica < <(en_ct sed -n 's/^\(Device[A-Za-z]*=.*\)/\1/p' /lib/systemd/system/quarvel430@.service)
props=()
for l in "${politica[@]}"; do props+=(-p "$l"); done
en_ct systemctl log-level debug
sonda='for f in /root/ttyS0 /root/ttyUSB0 /root/loopctl; do
  if timeout 2 dd if=$f of=/dev/null bs=1 count=0 iflag=nonblock 2>/tmp/e; then echo "$f: opens";
  else echo "$f: $(sed -n "s/.*: //p" /tmp/e | head -n 1)"; fi; done'
for caso in politica sin; do
  if [ $caso = politica ]; then p=("${props[@]}"); else p=(); fi
  en_ct systemd-run -q --wait --pipe -p PrivateTmp=yes "${p[@]}" sh -c "$sonda" >"$trabajo/sonda-$caso" 2>&1
  info "device probe with $([ $caso = politica ] && echo "the unit's policy" || echo "no policy"): $(tr '\n' ';' <"$trabajo/sonda-$caso")"
done
en_ct systemctl log-level info
info "systemd on the patterns: $(en_ct journalctl -q --no-pager -b -o cat | grep 'Device allow list pattern' | sort -u | tr '\n' '|')"
comprobar "the policy lets ttyS open and refuses loop-control" \
  eval "grep -q '^/root/ttyS0: \\(opens\\|Input/output error\\)' $trabajo/sonda-politica && grep -q '^/root/loopctl: Operation not permitted' $trabajo/sonda-politica"

# --- Reinstalled, then removed, while the instance runs ------------------------------------
# shellcheck disable=SC2034 # read by the eval below
n=$(arranques)
en_ct systemctl start "$unidad"
comprobar "the instance started again" esperar 20 eval '[ "$(arranques)" -gt "$n" ]'
antes=$(en_ct systemctl show -P MainPID "$unidad")
# A user's own checker, `systemctl --user enable --now quarvel430` in a
# session kept by lingering (no port here: it runs on, saying so).
en_ct useradd -m ana
en_ct loginctl enable-linger ana
uid_ana=$(en_ct id -u ana)
de_ana() { en_ct systemctl --user --machine ana@ "$@"; }
esperar 20 en_ct systemctl is-active -q "user@$uid_ana.service" || info "no user manager for ana"
de_ana enable --now quarvel430.service >/dev/null 2>&1
comprobar "ana's quarvel430.service runs" esperar 20 de_ana is-active -q quarvel430.service
antes_ana=$(de_ana show -P MainPID quarvel430.service)
# The metrics linked into the node exporter's folder as the guide says, and
# a file of another package beside them.
exportador=/var/lib/prometheus/node-exporter
en_ct sh -c "mkdir -p $exportador && ln -s /var/lib/quarvel/metricas/quarvel430_${nombre}_x.prom $exportador/ &&
  echo 'otro 1' >$exportador/otro.prom"
# The same version again is an upgrade to dpkg: the running instance should
# end up on the new files.
en_ct env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall /root/quarvel.deb \
  >"$trabajo/apt-reinstall.log" 2>&1
igual "apt-get install --reinstall" 0 "$?"
despues=$(en_ct systemctl show -P MainPID "$unidad")
programa=$(en_ct readlink "/proc/$despues/exe" 2>/dev/null)
# On the new file: an instance left on the old one shows it "(deleted)". Only
# the end is compared, for a sandboxed unit's path is told from its own root,
# which differs where this runs chrooted.
nuevo() { case $1 in */usr/bin/Quarvel430) echo si ;; *) echo no ;; esac; }
comprobar "a reinstall restarts the instance on the new program (PID $antes -> $despues, $programa)" \
  test "$despues" != "$antes" -a "$despues" != 0 -a "$(nuevo "$programa")" = si
despues_ana=$(de_ana show -P MainPID quarvel430.service)
programa_ana=$(en_ct readlink "/proc/$despues_ana/exe" 2>/dev/null)
comprobar "and ana's checker too (PID $antes_ana -> $despues_ana, $programa_ana)" \
  test "$despues_ana" != "$antes_ana" -a "$despues_ana" != 0 -a "$(nuevo "$programa_ana")" = si
# What the guide has the administrator add: an instance following its
# adapter (a drop-in as systemctl edit writes it, the device's wants link).
gota_admin=/etc/systemd/system/$unidad.d
deseo=/etc/systemd/system/dev-ttyUSB0.device.wants/$unidad
en_ct sh -c "mkdir -p $gota_admin ${deseo%/*} &&
  printf '%s\n' '[Unit]' BindsTo=dev-ttyUSB0.device >$gota_admin/override.conf &&
  ln -s /usr/lib/systemd/system/quarvel430@.service $deseo && systemctl daemon-reload"
en_ct env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q quarvel >"$trabajo/apt-remove.log" 2>&1
igual "apt-get remove" 0 "$?"
comprobar "no Quarvel430 runs after apt-get remove (ana's neither)" esperar 5 eval '! en_ct pgrep -x Quarvel430 >/dev/null'
comprobar "removal takes the metrics' links from the node exporter's folder" \
  eval "[ \"\$(en_ct ls $exportador)\" = otro.prom ]"
enlace=/etc/systemd/system/multi-user.target.wants/$unidad
info "after remove: unit $(en_ct systemctl show -P ActiveState,LoadState "$unidad" | tr '\n' ' ')package '$(en_ct dpkg-query -W -f='${db:Status-Abbrev}' quarvel 2>&1)', link $(en_ct test -L "$enlace" && echo kept || echo gone)"
# A package with no conffiles and no postrm is purged by the removal already:
# apt-get purge would not find it; dpkg --purge works in both cases.
en_ct dpkg --purge quarvel >"$trabajo/purge.log" 2>&1
en_ct systemctl daemon-reload
for resto in "$enlace" "$deseo" "$gota_admin"; do
  comprobar "purging leaves no $resto" eval "! en_ct test -e $resto -o -L $resto"
done
info "after purge: unit $(en_ct systemctl show -P ActiveState,LoadState "$unidad" | tr '\n' ' ')user quarvel $(en_ct id -u quarvel 2>/dev/null || echo gone), $(en_ct ls /var/lib/quarvel | tr '\n' ' ')left in /var/lib/quarvel"

echo "$aprobados passed, $fallos failed"
[ "$fallos" -eq 0 ]
