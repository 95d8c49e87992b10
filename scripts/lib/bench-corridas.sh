# Sourced by scripts/bench, not run: the receivers, one measured run, and the runs of every row
# of the table, on the loopback and over veth.
# shellcheck shell=bash

# Leaves in RECEPTOR the command line of a receiver, by its name in the table.
receptor() {
  case $1 in
    modo2r) RECEPTOR=("$CLIENT" -r "$GRUPO" "$PUERTO" 2) ;;
    modo2a) RECEPTOR=("$CLIENT" -a "$GRUPO" "$PUERTO" 2) ;;
    modo2q) RECEPTOR=("$CLIENT" -q "$GRUPO" "$PUERTO" 2) ;;
    # every part checked against its signed digest: emisor signs for this one (FIRMAR)
    modo2qk) RECEPTOR=("$CLIENT" -q --clave "$CLAVE_BENCH.pub" "$GRUPO" "$PUERTO" 2) ;;
    modo*) RECEPTOR=("$CLIENT" "$GRUPO" "$PUERTO" "${1#modo}") ;;
    protouna) RECEPTOR=("$PROTOTIPO" "$GRUPO" "$PUERTO" una) ;;
    protopausa) RECEPTOR=("$PROTOTIPO" "$GRUPO" "$PUERTO" pausa "$PAUSA_US") ;;
    udpcast)
      RECEPTOR=(udp-receiver "${UDPCAST_COMUN[@]}" --interface "$DISPOSITIVO" --stat-period 100
        --file recibido)
      ;;
    *) RECEPTOR=("$BUCLE" "$GRUPO" "$PUERTO" "$1" bucle.dat 0 "$LIMITE_CORRIDA") ;;
  esac
}

# Parts received, from the receiver's own output. For udpcast, whose datagrams need not carry
# a part each, the parts of file data that it wrote.
recibidas() {
  local nombre=$1 dir=$2
  case $nombre in
    udpcast) echo $(($(stat -c %s "$dir/recibido" 2>/dev/null || echo 0) / TAMPARTE_AQUI)) ;;
    modo2 | modo2r | proto*) grep -c '^NO LA TENGO' "$dir/salida" || true ;;
    # quiet, no line per part: a file equal to its source had them all, and otherwise all but
    # those the kernel dropped, as the log tells them last
    modo2q | modo2qk)
      if cmp -s "$dir/0001-0002-datos" "$FICHERO_AQUI"; then
        echo "$PARTES"
      else
        echo $((PARTES - $(sed -n 's/.*(\([0-9]*\) desde el inicio).*/\1/p' "$dir/salida" |
          tail -1 | grep . || echo 0)))
      fi
      ;;
    modo0 | modo1 | modo2a) grep -c '^T:' "$dir/salida" || true ;;
    *) campo recibidos "$(cat "$dir/error")" ;;
  esac
}

# The file that a receiver rebuilt in its directory, if it rebuilds one.
reconstruido() {
  case $1 in
    modo2 | modo2r | modo2a | modo2q | modo2qk | proto*) echo 0001-0002-datos ;;
    udpcast) echo recibido ;;
  esac
}

declare -A CPUS ENVIOS PERDIDAS LOTES MENSAJES RSS FICHEROS RETRANSMISIONES

# Starts a receiver under medir in the directory given, in the receiver's namespace, the command
# after it. FIJAR_RECEPTOR may pin it to a CPU.
FIJAR_RECEPTOR=()
medir_en() {
  local dir=$1
  shift
  (cd "$dir" && exec "${EN_R[@]}" "${FIJAR_RECEPTOR[@]}" "$MEDIR" "$dir/uso" "$LIMITE_CORRIDA" \
    -- "$@" >"$dir/salida" 2>"$dir/error") &
  MEDIDOR=$!
}

# Tells medir to end its receiver, and waits until it has written its figures.
parar_medido() {
  kill -USR1 "$MEDIDOR" 2>/dev/null || true
  wait "$MEDIDOR"
  MEDIDOR=""
}

# One run: the receiver under medir in a fresh directory, the file sent once, the receiver
# ended once it has taken everything. Appends its figures to the lists of its receiver and rate.
corrida() {
  local nombre=$1 ritmo=$2 clave=$1_$2 dir envio uso recibidas fichero=- mensajes
  usar_camino "$(camino_de "$ritmo")"
  dir=$(mktemp -d "$TRABAJO/corrida.XXXXXX")
  receptor "$nombre"
  FIRMAR=()
  [ "$nombre" != modo2qk ] || FIRMAR=(--firmar "$CLAVE_BENCH.clave")
  # with -a the file is already stored: each datagram is compared with it, and nothing written
  [ "$nombre" != modo2a ] || cp "$FICHERO_AQUI" "$dir/0001-0002-datos"
  medir_en "$dir" "${RECEPTOR[@]}"
  if [ "$nombre" = udpcast ]; then
    esperar_union "$UDPCAST_CITA"
    mensajes=$(contador_udp InDatagrams)
    enviar_udpcast "$ritmo" "$dir/emisor"
    esperar_fin "$dir/uso"
    envio=$(ritmo_udpcast "$dir/error")
    RETRANSMISIONES[$clave]+="$(retransmitidos "$dir/emisor"),"
  else
    esperar_union "$GRUPO"
    mensajes=$(contador_udp InDatagrams)
    envio=$(enviar "$ritmo")
    esperar_cola_vacia
  fi
  parar_medido
  mensajes=$(($(contador_udp InDatagrams) - mensajes))
  uso=$(cat "$dir/uso")
  recibidas=$(recibidas "$nombre" "$dir")
  recibidas=${recibidas:-0}
  if [ -n "$(reconstruido "$nombre")" ]; then
    fichero=distinto
    cmp -s "$dir/$(reconstruido "$nombre")" "$FICHERO_AQUI" && fichero=igual
  fi
  rm -rf "$dir"
  [ "$recibidas" -gt 0 ] || recibidas=1
  CPUS[$clave]+="$(calc "$(campo cpu_s "$uso") * 1e6 / $recibidas") "
  LOTES[$clave]+="$(calc "$recibidas / ($(campo esperas "$uso") + 1)") "
  MENSAJES[$clave]+="$(calc "$recibidas / ($mensajes + 0.000001)") "
  ENVIOS[$clave]+="${envio:-0} "
  PERDIDAS[$clave]+="$((PARTES - recibidas)),"
  RSS[$clave]+="$(campo rss_kib "$uso") "
  FICHEROS[$clave]+="$fichero "
}

RECEPTORES="descartar pwrite bloques modo1 modo0 modo2 protouna protopausa udpcast"
RECEPTORES_VETH=${BENCH_RECEPTORES_VETH:-descartar pwrite bloques modo1 modo2 modo2q modo2qk protopausa udpcast}
# BENCH_SOLO=veth: the rows over veth alone
[ "${BENCH_SOLO:-}" = veth ] || {
for ritmo in max 100k; do
  for _ in $(seq "$REPETICIONES"); do
    for nombre in $RECEPTORES; do
      [ "$nombre$ritmo" = modo2100k ] || corrida "$nombre" "$ritmo"
    done
  done
done
# emisor --gso feeds the pwrite loop, which takes each datagram alone, the floor and mode 2, which
# take the runs whole. udpcast's receiver speaks only its own protocol, so no emisor can feed it:
# it is compared as measured above with its own sender at the paced rate.
for _ in $(seq "$REPETICIONES"); do
  corrida pwrite gso
  corrida bloques gso
  corrida modo2q gso
done
for _ in $(seq "$SEGUIDAS"); do corrida modo2 gso; done
for _ in $(seq "$SEGUIDAS"); do corrida modo2 100k; done
for _ in $(seq "$SEGUIDAS"); do corrida modo2r 100k; done
for _ in $(seq "$SEGUIDAS"); do corrida modo2a 100k; done
}

# Over veth, every sender sends one datagram per call and the receiving end merges them.
crear_veth
CLAVE_BENCH=$TRABAJO/clave
"$EMISOR" --generar-claves "$CLAVE_BENCH" >/dev/null
for ritmo in vmax v100k; do
  for _ in $(seq "$REPETICIONES"); do
    for nombre in $RECEPTORES_VETH; do corrida "$nombre" "$ritmo"; done
  done
done
