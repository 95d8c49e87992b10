# Sourced by scripts/bench, not run: the paths the datagrams take (the loopback, a veth pair
# that merges as a card does), the namespaces at their ends, and the senders.
# shellcheck shell=bash

# The path the datagrams take: the loopback of this namespace (lo), or a veth pair from a
# namespace of the sender's own to one of the receiver's (veth). Sets the commands' prefixes that
# enter those namespaces, the devices, the part size and the file sent.
EN_R=() EN_S=() DISPOSITIVO=lo DISPOSITIVO_EMISOR=lo TAMPARTE_AQUI=$TAMPARTE FICHERO_AQUI=$FICHERO
usar_camino() {
  case $1 in
    lo)
      EN_R=() EN_S=() DISPOSITIVO=lo DISPOSITIVO_EMISOR=lo
      TAMPARTE_AQUI=$TAMPARTE FICHERO_AQUI=$FICHERO
      ;;
    veth)
      EN_R=(nsenter -t "$NS_RECEPTOR" -n --) EN_S=(nsenter -t "$NS_EMISOR" -n --)
      DISPOSITIVO=vr DISPOSITIVO_EMISOR=vs
      TAMPARTE_AQUI=$VETH_TAMPARTE FICHERO_AQUI=$FICHERO_VETH
      ;;
  esac
}
camino_de() { case $1 in v*) echo veth ;; *) echo lo ;; esac; }

# A process that holds a new network namespace for as long as it lives; leaves its pid in HUECO.
crear_espacio() {
  local propio
  propio=$(readlink /proc/self/ns/net)
  unshare -n sleep 3600 </dev/null >/dev/null 2>&1 &
  HUECO=$!
  for _ in $(seq 500); do
    [ "$(readlink "/proc/$HUECO/ns/net" 2>/dev/null)" = "$propio" ] || return 0
    sleep 0.01
  done
  echo "No se creo el espacio de red" >&2
  return 1
}

# The veth path: the sender's namespace and the receiver's, each made from inside this private
# one, joined by a pair vs-vr with the group routed through it. The receiving end merges a flow's
# datagrams as a card with interrupt moderation would: GRO, also for UDP that is not forwarded,
# and a flush time-out. /sys shows the devices of the namespace that mounted it, so the time-out
# is written from a mount namespace of its own with sysfs mounted again. The merging runs in a
# thread of its own (threaded NAPI), whose pid is left in HILO_NAPI: run by the sender's sends,
# the time-out's timer halved the sender's rate (82k against 176k datagrams/s without it), and
# the thread can be placed on the receiver's CPU, as a card's interrupt would be.
crear_veth() {
  crear_espacio
  NS_EMISOR=$HUECO
  crear_espacio
  NS_RECEPTOR=$HUECO
  ip link add vr netns "$NS_RECEPTOR" type veth peer name vs netns "$NS_EMISOR"
  local lado dispositivo direccion
  for lado in "$NS_EMISOR vs 10.77.0.1" "$NS_RECEPTOR vr 10.77.0.2"; do
    read -r hueco dispositivo direccion <<<"$lado"
    nsenter -t "$hueco" -n -- sh -c "ip link set lo up && ip addr add $direccion/24 dev $dispositivo &&
      ip link set $dispositivo up && ip route add 224.0.0.0/4 dev $dispositivo"
  done
  nsenter -t "$NS_RECEPTOR" -n -- ethtool -K vr gro on rx-udp-gro-forwarding on
  hilos_napi >"$TRABAJO/hilos_antes"
  VETH_AJUSTES=$(nsenter -t "$NS_RECEPTOR" -n -- unshare -m sh -c "mount -t sysfs none /sys &&
    echo $VETH_GRO_NS >/sys/class/net/vr/gro_flush_timeout && echo 1 >/sys/class/net/vr/threaded &&
    cd /sys/class/net/vr && for f in gro_flush_timeout napi_defer_hard_irqs threaded; do
      printf '%s=%s ' \$f \$(cat \$f); done")
  for _ in $(seq 100); do
    HILO_NAPI=$(hilos_napi | grep -vxFf "$TRABAJO/hilos_antes" | head -1)
    [ -z "$HILO_NAPI" ] || break
    sleep 0.01
  done
  VETH_AJUSTES+=" $(nsenter -t "$NS_RECEPTOR" -n -- ethtool -k vr |
    awk '/^generic-receive-offload|^rx-udp-gro-forwarding/ { printf "%s%s", $1, $2 }')"
}

# The pids of the kernel's threads that run a device's NAPI named vr.
hilos_napi() { ps -eo pid=,comm= | awk '$2 ~ /^napi\/vr-/ { print $1 }'; }

# Waits until something has joined the group given on the receiver's device, 5 s at most.
esperar_union() {
  for _ in $(seq 500); do
    "${EN_R[@]}" ip maddr show dev "$DISPOSITIVO" | grep -qw "$1" && return 0
    sleep 0.01
  done
  echo "El receptor no se unio al grupo" >&2
  return 1
}

# Waits until the receiver's socket queue is empty, 10 s at most, then lets it print.
esperar_cola_vacia() {
  local puerto_hex
  puerto_hex=$(printf ':%04X' "$PUERTO")
  for _ in $(seq 1000); do
    if ! "${EN_R[@]}" awk -v p="$puerto_hex" '$2 ~ p"$" { split($5, q, ":"); if (q[2] != "00000000") f = 1 }
                                 END { exit !f }' /proc/net/udp; then
      sleep 0.1
      return 0
    fi
    sleep 0.01
  done
}

# A UDP counter of the receiver's namespace, from its /proc/net/snmp: InDatagrams counts the
# messages that receivers took (a merged run is one), RcvbufErrors the datagrams dropped for lack
# of room in a socket's queue.
contador_udp() {
  "${EN_R[@]}" awk -v c="$1" '/^Udp:/ { if (!k) { for (i = 2; i <= NF; i++) if ($i == c) k = i }
                                        else { print $k; exit } }' /proc/net/snmp
}

# Sends files once on the current path, with the limit given (--sin-limite, or -r N) and any
# further options of emisor before it; prints the rate the sender reports. The sender shows its
# rate only on a terminal, so it gets one; the rate is that of the send alone, without reading
# the files. FIJAR_EMISOR may pin it to a CPU.
FIJAR_EMISOR=()
enviar_ficheros() {
  local orden opciones=()
  while [ "$1" != -- ]; do
    opciones+=("$1")
    shift
  done
  shift
  orden=$(printf '%q ' timeout "$LIMITE_CORRIDA" "${EN_S[@]}" "${FIJAR_EMISOR[@]}" "$EMISOR" \
    -p "$TAMPARTE_AQUI" "${opciones[@]}" "$GRUPO" "$PUERTO" "$@")
  script -qfec "$orden" /dev/null </dev/null | tr '\r' '\n' |
    { grep -o '[0-9]* datagramas/s' || true; } | tail -1 | cut -d' ' -f1
}

# Sends the file once: flat out (max, and vmax over veth), at the paced rate (100k, v100k), or at
# the paced rate in runs of up to 43 parts per call (gso); signed when FIRMAR says so.
FIRMAR=()
enviar() {
  local limite=(--sin-limite) tandas=()
  case $1 in 100k | v100k | gso) limite=(-r "$RITMO_PAUSADO") ;; esac
  [ "$1" != gso ] || tandas=(--gso)
  enviar_ficheros "${tandas[@]}" "${limite[@]}" "${FIRMAR[@]}" -- "$FICHERO_AQUI"
}

# Sends the file once with udpcast's sender, multicast even to a single receiver. Its report
# goes to the file given.
enviar_udpcast() {
  local limite=()
  case $1 in max | vmax) ;; *) limite=(--max-bitrate "$UDPCAST_TOPE") ;; esac
  timeout "$LIMITE_CORRIDA" "${EN_S[@]}" udp-sender "${UDPCAST_COMUN[@]}" \
    --interface "$DISPOSITIVO_EMISOR" --mcast-data-address "$UDPCAST_GRUPO" --min-receivers 1 \
    --nopointopoint "${limite[@]}" --file "$FICHERO_AQUI" </dev/null >/dev/null 2>"$2" || true
}

# Waits until medir has written its figures, 5 s at most: udpcast's receiver ends by itself
# once the sender has finished.
esperar_fin() {
  for _ in $(seq 500); do
    [ -s "$1" ] && return 0
    sleep 0.01
  done
}

# udpcast's rate in datagrams/s, from its receiver's report every 100 ms: the last average
# before the end, since the final one also counts the wait after the last acknowledgement.
ritmo_udpcast() {
  tr '\r' '\n' <"$1" | awk -v total="$(stat -c %s "$FICHERO_AQUI")" -v parte="$TAMPARTE_AQUI" '
    /^bytes=.*Mbps/ {
      bytes = $0; sub(/^bytes= */, "", bytes); sub(/ *\(.*/, "", bytes); gsub(/ /, "", bytes)
      mbps = $0; sub(/.*\(/, "", mbps); sub(/ Mbps.*/, "", mbps)
      if (bytes + 0 < total || ritmo == "") ritmo = int(mbps * 1e6 / 8 / parte)
    }
    END { print ritmo }'
}

# Datagrams that udpcast's sender sent again, from its report.
retransmitidos() {
  local n
  n=$(tr '\r' '\n' <"$1" | grep -o 're-xmits=[0-9]*' | tail -1 | cut -d= -f2)
  echo $((10#${n:-0}))
}
