# Sourced by scripts/bench, not run: a file of REPARAR_BYTES sent over veth with loss until it is
# complete, by emisor's carousel without repair, by emisor --fec with client --reparar, and by
# udpcast's pair in asynchronous mode with its FEC: datagrams and bytes sent against the file,
# passes, and the receiver's CPU per part; at random loss and in bursts, both made by a packet
# filter in the sender's namespace; then the least repair that completes REPARAR_SEGUIDAS runs
# in a row at 5%, ours and udpcast's.
# shellcheck shell=bash

REPARAR_BYTES=70000000  # 49020 parts of VETH_TAMPARTE bytes: within the receiver's default 50000
REPARAR_RITMO=50000     # datagrams per second, both senders
REPARAR_VECES=${BENCH_REPETICIONES:-3}        # runs of each row of the table; the median is kept
REPARAR_SEGUIDAS=${BENCH_REPARAR_SEGUIDAS:-10}  # runs in a row that a code must complete
REPARAR_FEC=128:18        # our code of the table and of the goal
REPARAR_UDPCAST=8x18/128  # udpcast's with as many repair datagrams: stripes x redundancy/stripe
REPARAR_M="8 10 12 14 16"           # the repair rows tried for 128 parts, ours
REPARAR_R_UDPCAST="8 12 16 20 24 32"  # and udpcast's, per stripe of 128
# Losses: N% at random, or bursts of N datagrams in a row, one every 20 N (5% in all): the
# kernel here has no netem, whose bursts would come at random.
REPARAR_PERDIDAS="0 1 5 10 rafaga20 rafaga100"
REPARAR_DIR=$TRABAJO/veth/reparar
mkdir -p "$REPARAR_DIR"
REPARAR_FICHERO=$REPARAR_DIR/datos
head -c "$REPARAR_BYTES" /dev/urandom >"$REPARAR_FICHERO"
REPARAR_PARTES=$(((REPARAR_BYTES + VETH_TAMPARTE - 1) / VETH_TAMPARTE))

# The loss, made on the receiver's way in, where the sender cannot see it (on its way out, a
# drop is an error of its send, which emisor tries again): nftables drops N% at random, or a
# burst of N in every 20 N from a point drawn for the run. Every datagram sent to a group is
# counted on the sender's way out. The receiving end merges no datagrams here, so that each is
# judged alone.
poner_perdida() {
  local regla="" grupo="ip daddr 224.0.0.0/4 meta l4proto udp" n=${1#rafaga} lado
  case $1 in
    rafaga*)
      local desde=$((RANDOM % (n * 19)))
      regla="$grupo numgen inc mod $((n * 20)) $desde-$((desde + n - 1)) drop"
      ;;
    0) ;;
    *) regla="$grupo numgen random mod 100 < $1 drop" ;;
  esac
  for lado in "EN_S egress vs counter" "EN_R ingress vr $regla"; do
    read -r espacio gancho dispositivo accion <<<"$lado"
    declare -n en="$espacio"
    "${en[@]}" nft delete table netdev reparar 2>/dev/null || true
    "${en[@]}" nft add table netdev reparar
    "${en[@]}" nft add chain netdev reparar c "{ type filter hook $gancho device $dispositivo priority 0; }"
    [ "$accion" = counter ] && accion="$grupo counter"
    [ -z "$accion" ] || "${en[@]}" nft add rule netdev reparar c "$accion"
    unset -n en
  done
}

# Datagrams and bytes (IP packets) counted since the loss was set.
contar_enviados() {
  "${EN_S[@]}" nft list chain netdev reparar c |
    awk '{ for (i = 1; i < NF; i++) if ($i == "packets") { print $(i + 1), $(i + 3); exit } }'
}

# The receiver under medir in the directory given, in its namespace, the command after it.
medir_reparar() {
  local dir=$1
  shift
  (cd "$dir" && exec "${EN_R[@]}" "$MEDIR" "$dir/uso" "$LIMITE_CORRIDA" -- "$@" \
    >"$dir/salida" 2>"$dir/error") &
  MEDIDOR=$!
}

# Waits for the text in the file given, every 5 ms, that many times; false if it never comes.
esperar_texto() {
  for _ in $(seq "$3"); do
    grep -q "$1" "$2" 2>/dev/null && return 0
    sleep 0.005
  done
  return 1
}

# One run of the sender given (carrusel, fec K:M, una K:M, udpcast R) at a loss; leaves in R_FILA
# its figures: ok or fallo, datagrams sent / parts, UDP bytes sent / the file's, passes, us per
# part. carrusel and fec go on until the file is complete (the datagrams of the few ms it takes
# to see it counted too); una is emisor --fec's one pass, complete or not 2 s after it.
corrida_reparar() {
  local que=$1 codigo=$2 perdida=$3 dir emisor paquetes bytes por_pasada uso resultado=fallo
  dir=$(mktemp -d "$TRABAJO/reparar.XXXXXX")
  poner_perdida "$perdida"
  por_pasada=$REPARAR_PARTES
  if [ "$que" = udpcast ]; then
    medir_reparar "$dir" udp-receiver "${UDPCAST_COMUN[@]}" --interface vr --rcvbuf 8388608 \
      --file recibido
    esperar_union "$UDPCAST_CITA"
    timeout "$LIMITE_CORRIDA" "${EN_S[@]}" udp-sender "${UDPCAST_COMUN[@]}" --interface vs \
      --mcast-data-address "$UDPCAST_GRUPO" --async --autostart 2 --nopointopoint \
      --fec "8x$codigo/128" --blocksize "$VETH_TAMPARTE" --file "$REPARAR_FICHERO" \
      --max-bitrate "$((REPARAR_RITMO * 1500 * 8 / 1000000))m" </dev/null >"$dir/emisor" 2>&1 || true
    read -r paquetes bytes < <(contar_enviados)
    esperar_fin "$dir/uso"
    cmp -s "$dir/recibido" "$REPARAR_FICHERO" && resultado=ok
  else
    local opciones=() cliente=(-q)
    [ "$que" = una ] || opciones=(-c)
    if [ "$que" != carrusel ]; then
      opciones+=(--fec "$codigo") cliente=(-q --reparar)
      por_pasada=$((REPARAR_PARTES + (REPARAR_PARTES + ${codigo%:*} - 1) / ${codigo%:*} * ${codigo#*:}))
    fi
    medir_reparar "$dir" "$CLIENT" "${cliente[@]}" "$GRUPO" "$PUERTO" 2
    esperar_union "$GRUPO"
    "${EN_S[@]}" "$EMISOR" -p "$VETH_TAMPARTE" -r "$REPARAR_RITMO" "${opciones[@]}" "$GRUPO" \
      "$PUERTO" "$REPARAR_FICHERO" 2>/dev/null &
    emisor=$!
    local veces=6000  # 30 s of a carousel; 2 s after a pass
    if [ "$que" = una ]; then
      wait "$emisor" || true
      veces=400
    fi
    esperar_texto ': Completado!$' "$dir/salida" "$veces" || true
    read -r paquetes bytes < <(contar_enviados)
    kill -TERM "$emisor" 2>/dev/null || true
    wait "$emisor" || true
    cmp -s "$dir/0001-0002-datos" "$REPARAR_FICHERO" && resultado=ok
  fi
  kill -USR1 "$MEDIDOR" 2>/dev/null || true
  wait "$MEDIDOR" || true
  MEDIDOR=""
  uso=$(cat "$dir/uso")
  R_FILA="$resultado $(calc "$paquetes / $REPARAR_PARTES") $(calc "($bytes - 28 * $paquetes) / $REPARAR_BYTES")"
  R_FILA+=" $(calc "$paquetes / $por_pasada") $(calc "$(campo cpu_s "$uso") * 1e6 / $REPARAR_PARTES")"
  rm -rf "$dir"
}

# The rows of the table: each sender at each loss, REPARAR_VECES runs, the median of each figure.
declare -A REPARAR_TABLA
# shellcheck disable=SC2046
columna() { mediana $(printf '%s\n' "${@:2}" | awk -v c="$1" '{ print $c }'); }
usar_camino veth
"${EN_R[@]}" ethtool -K vr gro off rx-udp-gro-forwarding off
for perdida in $REPARAR_PERDIDAS; do
  for que in "carrusel -" "fec $REPARAR_FEC" "udpcast ${REPARAR_UDPCAST#8x}"; do
    read -r nombre codigo <<<"$que"
    filas=()
    for _ in $(seq "$REPARAR_VECES"); do
      corrida_reparar "$nombre" "${codigo%/128}" "$perdida"
      filas+=("$R_FILA")
    done
    completas=$(printf '%s\n' "${filas[@]}" | grep -c '^ok' || true)
    REPARAR_TABLA[${nombre}_$perdida]="$completas/$REPARAR_VECES"
    for c in 2 3 4 5; do REPARAR_TABLA[${nombre}_$perdida]+=" $(columna $c "${filas[@]}")"; done
  done
done

# Runs of a code at 5% until one fails, REPARAR_SEGUIDAS at most, each a single pass: ours
# (una) or udpcast's. Leaves in HECHAS how many completed.
seguidas() {
  HECHAS=0
  while [ "$HECHAS" -lt "$REPARAR_SEGUIDAS" ]; do
    corrida_reparar "$1" "$2" 5
    [ "${R_FILA%% *}" = ok ] || return 0
    HECHAS=$((HECHAS + 1))
  done
}
seguidas una "$REPARAR_FEC"
objetivo_seguidas=$HECHAS
# the least repair that holds REPARAR_SEGUIDAS in a row, ours up to that of the goal
menor_nuestro=- menor_udpcast=-
for m in $REPARAR_M; do
  seguidas una "128:$m"
  if [ "$HECHAS" = "$REPARAR_SEGUIDAS" ]; then menor_nuestro=$m && break; fi
done
[ "$menor_nuestro" != - ] || [ "$objetivo_seguidas" != "$REPARAR_SEGUIDAS" ] ||
  menor_nuestro=${REPARAR_FEC#*:}
for r in $REPARAR_R_UDPCAST; do
  seguidas udpcast "$r"
  if [ "$HECHAS" = "$REPARAR_SEGUIDAS" ]; then menor_udpcast=$r && break; fi
done
"${EN_S[@]}" nft delete table netdev reparar 2>/dev/null || true
"${EN_R[@]}" nft delete table netdev reparar 2>/dev/null || true
"${EN_R[@]}" ethtool -K vr gro on rx-udp-gro-forwarding on

echo
echo "Un fichero de $REPARAR_BYTES bytes ($REPARAR_PARTES partes de $VETH_TAMPARTE) por veth a" \
  "$REPARAR_RITMO datagramas/s con perdidas, hasta completarlo; mediana de $REPARAR_VECES corridas:"
printf '%-10s %-9s %-9s %8s %8s %8s %9s\n' perdida emisor completo datag/p bytes/f pasadas us/parte
for perdida in $REPARAR_PERDIDAS; do
  for nombre in carrusel fec udpcast; do
    # shellcheck disable=SC2086
    printf '%-10s %-9s %-9s %8s %8s %8s %9s\n' "$perdida" "$nombre" ${REPARAR_TABLA[${nombre}_$perdida]}
  done
done
cpu_base=$(awk '{ print $5 }' <<<"${REPARAR_TABLA[carrusel_0]}")
cpu_fec=$(awk '{ print $5 }' <<<"${REPARAR_TABLA[fec_5]}")
ratio_cpu=$(calc "$cpu_fec / ($cpu_base + 0.000001)")
echo "fec: emisor --fec $REPARAR_FEC y client --reparar; udpcast: udp-sender --async --fec" \
  "$REPARAR_UDPCAST; datag/p: datagramas enviados por parte del fichero; bytes/f: bytes UDP" \
  "enviados por byte del fichero, cabeceras incluidas; pasadas: datagramas enviados por pasada" \
  "(udpcast hace una); rafagaN: N datagramas seguidos de cada 20 N, 5% en total."
echo "Objetivos a 5%: --fec $REPARAR_FEC en una pasada $objetivo_seguidas de $REPARAR_SEGUIDAS" \
  "veces (objetivo $REPARAR_SEGUIDAS); CPU por parte con --reparar a 5% / sin reparar sin" \
  "perdidas: $ratio_cpu (objetivo <= 1.3); menos filas por 128 partes que completan" \
  "$REPARAR_SEGUIDAS de $REPARAR_SEGUIDAS: nuestro $menor_nuestro, udpcast $menor_udpcast."
linea="reparar_fec_seguidas=$objetivo_seguidas/$REPARAR_SEGUIDAS ratio_cpu_reparar=$ratio_cpu "
linea+="menor_m_128=$menor_nuestro menor_r_udpcast_128=$menor_udpcast "
for clave in "${!REPARAR_TABLA[@]}"; do
  read -r completas datag bytes pasadas cpu <<<"${REPARAR_TABLA[$clave]}"
  linea+="completas_$clave=$completas datag_$clave=$datag bytes_$clave=$bytes "
  linea+="pasadas_$clave=$pasadas cpu_us_$clave=$cpu "
done
echo "$linea"
