# Sourced by scripts/bench, not run: the table of the runs, the other figures, and the targets.
# shellcheck shell=bash

referencia() {
  case $1 in
    modo2 | modo2r | modo2q | udpcast | proto*) echo pwrite ;;
    modo2qk) echo modo2q ;;
    modo2a) echo modo2 ;;
    modo0 | modo1) echo descartar ;;
    *) echo "$1" ;;
  esac
}
maximo() { printf '%s\n' "$@" | sort -g | tail -1; }
minimo() { printf '%s\n' "$@" | sort -g | head -1; }
suma() { echo $(($(echo "$1" | tr ',' '+'))); }
nombre_ritmo() {
  case $1 in
    max) echo "sin limite" ;;
    gso) echo "100k/s --gso" ;;
    vmax) echo "veth sin limite" ;;
    v100k) echo "veth 100k/s" ;;
    *) echo "$1/s" ;;
  esac
}

declare -A CPU RATIO SUELO
# shellcheck disable=SC2086
for clave in "${!CPUS[@]}"; do CPU[$clave]=$(mediana ${CPUS[$clave]}); done
FORMATO='%-10s %-5s %8s %9s %-12s %6s %-10s %6s %8s %8s %8s %-14s %s\n'
# shellcheck disable=SC2059
printf "$FORMATO" receptor ritmo datag/s us/parte min-max ratio referencia suelo datag/msj \
  datag/esp rss_kib fichero perdidas
# the rows of the table: every receiver at both rates on the loopback, mode 2 with -r and -a at
# the paced one, the loops and mode 2 fed by emisor --gso, and the receivers over veth
FILAS=""
for ritmo in max 100k; do
  for nombre in $RECEPTORES; do FILAS+="${nombre}_$ritmo "; done
done
FILAS+="modo2r_100k modo2a_100k pwrite_gso bloques_gso modo2_gso modo2q_gso "
for ritmo in vmax v100k; do
  for nombre in $RECEPTORES_VETH; do FILAS+="${nombre}_$ritmo "; done
done
for clave in $FILAS; do
  nombre=${clave%_*} ritmo=${clave#*_}
  ref=$(referencia "$nombre")_$ritmo
  RATIO[$clave]=$(calc "${CPU[$clave]} / ${CPU[$ref]}")
  # the floor: the loop with the receiver's own receive and file handling
  SUELO[$clave]=-
  case $nombre in modo2* | udpcast | pwrite | proto*)
    SUELO[$clave]=$(calc "${CPU[$clave]} / ${CPU[bloques_$ritmo]}") ;;
  esac
  PERDIDAS[$clave]=${PERDIDAS[$clave]%,}
  # shellcheck disable=SC2059,SC2086
  printf "$FORMATO" "$nombre" "$ritmo" "$(mediana ${ENVIOS[$clave]})" "${CPU[$clave]}" \
    "$(minimo ${CPUS[$clave]})-$(maximo ${CPUS[$clave]})" "${RATIO[$clave]}" "${ref%_*}" \
    "${SUELO[$clave]}" "$(mediana ${MENSAJES[$clave]})" "$(mediana ${LOTES[$clave]})" \
    "$(maximo ${RSS[$clave]})" "$(printf '%s\n' ${FICHEROS[$clave]} | sort -u | paste -sd/)" \
    "${PERDIDAS[$clave]}"
done
echo "datag/s: datagramas por segundo que envio el emisor (udpcast: los que recibio su receptor);"
echo "us/parte: CPU usuario+sistema del receptor por parte del fichero, de $TAMPARTE bytes en el"
echo "loopback y de $VETH_TAMPARTE por veth (udpcast: su CPU entre los bytes que escribio / la"
echo "parte); min-max: la menor y la mayor de las corridas; suelo: us/parte entre los del bucle"
echo "bloques (recvmmsg de $((64)) mensajes de 64 KiB con UDP_GRO, bloques de paginas enteras como"
echo "el buffer de escritura del receptor); datag/msj: partes por mensaje recibido (el nucleo"
echo "junta las de una tanda en uno; InDatagrams del espacio de red del receptor); datag/esp:"
echo "partes por espera voluntaria"
echo "(medianas de $REPETICIONES corridas, $SEGUIDAS seguidas para modo2 y para modo2r, client -r,"
echo "a 100k; $PARTES partes); ritmo gso: emisor --gso a 100k/s; modo2a: client -a con el fichero"
echo "ya grabado, cada datagrama comparado con el (referencia: modo2 recibiendo el fichero nuevo);"
echo "veth: emisor sin --gso en un espacio de red propio, por un par veth cuyo extremo receptor"
echo "junta datagramas ($VETH_AJUSTES)"
for ritmo in max 100k vmax v100k; do
  echo "udpcast $(nombre_ritmo $ritmo): datagramas que su emisor retransmitio en cada corrida:" \
    "${RETRANSMISIONES[udpcast_$ritmo]%,}"
done
declare -A FRENTE
for ritmo in max 100k vmax v100k; do
  FRENTE[$ritmo]=$(calc "${CPU[modo2_$ritmo]} / ${CPU[udpcast_$ritmo]}")
  echo "modo2 / udpcast, CPU por parte, $(nombre_ritmo $ritmo): ${FRENTE[$ritmo]}" \
    "(udpcast / modo2: $(calc "${CPU[udpcast_$ritmo]} / ${CPU[modo2_$ritmo]}"))"
done
# udpcast's receiver takes only its own protocol: its figure at 100k/s, with its own sender
FRENTE[gso]=$(calc "${CPU[modo2_gso]} / ${CPU[udpcast_100k]}")
echo "modo2 con emisor --gso / udpcast con su propio emisor, ambos a 100k/s: ${FRENTE[gso]}" \
  "(udpcast / modo2: $(calc "${CPU[udpcast_100k]} / ${CPU[modo2_gso]}"); udpcast no puede" \
  "recibir de emisor)"
for ritmo in max 100k; do
  echo "prototipo, modo 2 del receptor con otra espera, $(nombre_ritmo $ritmo): una recvmmsg" \
    "bloqueante por despertar ${RATIO[protouna_$ritmo]} del bucle pwrite; con una pausa de" \
    "$PAUSA_US us entre recepciones mientras llegan datagramas ${RATIO[protopausa_$ritmo]}" \
    "(modo2: ${RATIO[modo2_$ritmo]})"
done
for ritmo in vmax v100k; do
  echo "prototipo con pausa de $PAUSA_US us, $(nombre_ritmo $ritmo): ${RATIO[protopausa_$ritmo]} del" \
    "bucle pwrite, ${SUELO[protopausa_$ritmo]} del suelo (modo2: ${RATIO[modo2_$ritmo]})"
done
echo "carga media del sistema al empezar: $CARGA ($(nproc) CPU), tras esperar $ESPERADO s"
echo "instrucciones por datagrama de la pasada (callgrind, $PASADA_N datagramas): modo 2 $IR," \
  "modo 1 $IR_MODO1, -q modo 2 $IR_SILENCIOSO, -q modo 2 con una riada de nombres rechazados $IR_RIADA"
# What the receiver can take, whatever the sender gives: parts per second of its CPU, from its
# CPU per part on merged runs (emisor --gso at 100k/s; over veth, the runs the card path merges).
declare -A CAPACIDAD
for clave in modo2q_gso bloques_gso modo2_gso modo2q_v100k bloques_v100k modo2q_vmax bloques_vmax; do
  CAPACIDAD[$clave]=$(awk -v us="${CPU[$clave]}" 'BEGIN { printf "%.0f", 1e6 / us }')
done
for ritmo in gso v100k vmax; do
  echo "capacidad, partes por segundo de CPU del receptor, $(nombre_ritmo $ritmo): -q modo 2" \
    "${CAPACIDAD[modo2q_$ritmo]}, suelo (bloques) ${CAPACIDAD[bloques_$ritmo]}$([ "$ritmo" != gso ] ||
      echo ", modo 2 ${CAPACIDAD[modo2_gso]}")"
done
declare -A ESCRITURAS_POR_PARTE
for ritmo in 100k gso; do
  partes=${ESCRITURAS_PARTES[$ritmo]}
  ESCRITURAS_POR_PARTE[$ritmo]=$(calc \
    "(${ESCRITURAS_PWRITE[$ritmo]} + ${ESCRITURAS_PWRITEV[$ritmo]}) / $partes")
  echo "llamadas de escritura de modo2 a $(nombre_ritmo $ritmo) (strace, una corrida de $partes" \
    "partes): al fichero ${ESCRITURAS_POR_PARTE[$ritmo]} por parte (${ESCRITURAS_PWRITE[$ritmo]}" \
    "pwrite64, ${ESCRITURAS_PWRITEV[$ritmo]} pwritev), a la salida" \
    "$(calc "${ESCRITURAS_WRITE[$ritmo]} / $partes") (${ESCRITURAS_WRITE[$ritmo]} write)"
done
echo "llamadas de recepcion de modo2 a $(nombre_ritmo gso): ${RECEPCIONES[gso]} recvmmsg," \
  "$(calc "${ESCRITURAS_PARTES[gso]} / (${RECEPCIONES[gso]} + 0.000001)") partes por llamada"
for modo in 1 2; do
  for intervalo in "$DEMORA_MS" $DEMORA_GOTEOS; do
    clave=${modo}_$intervalo
    echo "demora de la linea leida en una tuberia, modo $modo, un datagrama cada $intervalo ms:" \
      "mediana ${DEMORA[$clave]} ms, percentil 90 ${DEMORA_P90[$clave]} ms, percentil 99" \
      "${DEMORA_P99[$clave]} ms (${DEMORA_VISTAS[$clave]} de ${DEMORA_ENVIADOS[$clave]} lineas vistas)"
  done
done
echo "client -f 1024, $ENTRELAZADOS ficheros de $PARTES_ENTRELAZADO partes a la vez, cada uno" \
  "de su emisor a $((RITMO_PAUSADO / ENTRELAZADOS))/s: rss $ENTRELAZADO_RSS KiB," \
  "perdidas $ENTRELAZADO_PERDIDAS, $ENTRELAZADO_IGUALES de $ENTRELAZADOS iguales," \
  "$ENTRELAZADO_CAMBIOS cambios de fichero entre lineas"

# The highest rates without a drop, each the median of the sender's rate in its confirming runs.
declare -A MAXIMO
echo
echo "ritmo maximo sin descartes, $FICHEROS_GRANDES ficheros de $PARTES partes en un envio" \
  "(receptor en la CPU $CPU_RECEPTOR, emisor en la CPU $CPU_EMISOR; por veth, el hilo que junta" \
  "los datagramas en la del receptor):"
for clave in modo2q_veth pwrite_veth modo2q_lo pwrite_lo; do
  # shellcheck disable=SC2086
  MAXIMO[$clave]=$(mediana ${MAXIMOS[$clave]})
  camino=${clave#*_}
  envio="emisor por veth"
  [ "$camino" = veth ] || envio="emisor --gso por el loopback"
  echo "  ${clave%_*} ($envio): ${MAXIMO[$clave]} datag/s;" \
    "$(printf '%s' "${CONFIRMADAS[$clave]}") de $CONFIRMACIONES corridas limpias a ese ritmo" \
    "(${MAXIMOS[$clave]% }); probados: ${PASOS_BUSQUEDA[$clave]% }$([ "${TOPE_EMISOR[$clave]}" = no ] ||
      echo " (el emisor no daba mas)")"
done
echo "modo2q: client -q G P 2; probados: ritmos pedidos, + los limpios, (entre parentesis) el" \
  "que se confirmo tras fallar una confirmacion"

# One row of the targets: what, the figure, the comparison, the bound, and the figure as shown.
CUMPLIDOS=0 OBJETIVOS=0
objetivo() {
  local cumple=no
  awk -v m="$2" -v t="$4" "BEGIN { exit !(m $3 t) }" && cumple=si
  [ "$cumple" = no ] || CUMPLIDOS=$((CUMPLIDOS + 1))
  OBJETIVOS=$((OBJETIVOS + 1))
  printf '%-54s %10s %2s %-5s %s\n' "$1" "${5:-$2}" "$3" "$4" "$cumple"
}
# shellcheck disable=SC2086
rss_modo2=$(maximo ${RSS[modo2_max]} ${RSS[modo2_100k]} ${RSS[modo2r_100k]})
# shellcheck disable=SC2086
rss_modo2_gso=$(maximo ${RSS[modo2_gso]})
# shellcheck disable=SC2086
iguales_modo2r=$(printf '%s\n' ${FICHEROS[modo2r_100k]} | grep -cx igual || true)
# shellcheck disable=SC2086
iguales_modo2a=$(printf '%s\n' ${FICHEROS[modo2a_100k]} | grep -cx igual || true)
# shellcheck disable=SC2086
iguales_modo2_gso=$(printf '%s\n' ${FICHEROS[modo2_gso]} | grep -cx igual || true)
# shellcheck disable=SC2086
iguales_modo2_veth=$(printf '%s\n' ${FICHEROS[modo2_vmax]} ${FICHEROS[modo2_v100k]} | grep -cx igual || true)
echo
printf '%-54s %10s %-8s %s\n' objetivo medido meta cumple
objetivo "modo2 / pwrite, sin limite" "${RATIO[modo2_max]}" "<=" 0.75
objetivo "modo2 / pwrite, 100k/s" "${RATIO[modo2_100k]}" "<=" 0.75
objetivo "modo1 / descartar, sin limite" "${RATIO[modo1_max]}" "<=" 1.10
for ritmo in max 100k; do
  objetivo "udpcast / modo2, $(nombre_ritmo $ritmo)" \
    "$(calc "${CPU[udpcast_$ritmo]} / ${CPU[modo2_$ritmo]}")" ">=" 1.30
done
objetivo "partes perdidas, modo2 a 100k/s, $SEGUIDAS seguidas" \
  "$(suma "${PERDIDAS[modo2_100k]}")" "==" 0 "${PERDIDAS[modo2_100k]}"
objetivo "partes perdidas, modo2 -r a 100k/s, $SEGUIDAS seguidas" \
  "$(suma "${PERDIDAS[modo2r_100k]}")" "==" 0 "${PERDIDAS[modo2r_100k]}"
objetivo "ficheros iguales, modo2 -r a 100k/s" "$iguales_modo2r" "==" "$SEGUIDAS"
objetivo "modo2 -a, ya grabado / modo2, nuevo, 100k/s" "${RATIO[modo2a_100k]}" "<" 1.0
objetivo "ficheros intactos, modo2 -a a 100k/s" "$iguales_modo2a" "==" "$SEGUIDAS"
objetivo "modo2 / pwrite, ambos de emisor --gso a 100k/s" "${RATIO[modo2_gso]}" "<=" 0.35
objetivo "modo2 / bloques (suelo), emisor --gso a 100k/s" "${SUELO[modo2_gso]}" "<=" 1.25
objetivo "-q modo2 / bloques (suelo), emisor --gso a 100k/s" "${SUELO[modo2q_gso]}" "<=" 1.10
objetivo "udpcast (su emisor) / modo2 (--gso), 100k/s" \
  "$(calc "${CPU[udpcast_100k]} / ${CPU[modo2_gso]}")" ">=" 2.50
objetivo "partes perdidas, modo2 --gso a 100k/s, $SEGUIDAS seguidas" \
  "$(suma "${PERDIDAS[modo2_gso]}")" "==" 0 "${PERDIDAS[modo2_gso]}"
objetivo "ficheros iguales, modo2 --gso a 100k/s" "$iguales_modo2_gso" "==" "$SEGUIDAS"
for ritmo in vmax v100k; do
  objetivo "modo2 / pwrite, $(nombre_ritmo $ritmo)" "${RATIO[modo2_$ritmo]}" "<=" 0.35
  objetivo "modo2 / bloques (suelo), $(nombre_ritmo $ritmo)" "${SUELO[modo2_$ritmo]}" "<=" 1.25
  objetivo "-q modo2 / bloques (suelo), $(nombre_ritmo $ritmo)" "${SUELO[modo2q_$ritmo]}" "<=" 1.10
  objetivo "-q modo2 --clave / sin ella, $(nombre_ritmo $ritmo)" "${RATIO[modo2qk_$ritmo]}" "<=" 1.30
done
objetivo "capacidad de -q modo2, partes/s de CPU, --gso" "${CAPACIDAD[modo2q_gso]}" ">=" 1000000
objetivo "ficheros iguales, modo2 por veth, $((2 * REPETICIONES)) corridas" \
  "$iguales_modo2_veth" "==" $((2 * REPETICIONES))
for camino in veth lo; do
  texto="ritmo maximo sin descartes, modo2 / pwrite, $([ "$camino" = veth ] && echo veth || echo --gso)"
  cociente=$(calc "${MAXIMO[modo2q_$camino]} / ${MAXIMO[pwrite_$camino]}")
  if [ "${TOPE_EMISOR[modo2q_$camino]}" = si ]; then
    # mode 2 took all the sender could give: its own limit is higher, and the ratio at least this
    cumple="sin medir: el emisor no daba mas"
    awk -v m="$cociente" 'BEGIN { exit !(m >= 1.5) }' && cumple="si (cota inferior)" &&
      CUMPLIDOS=$((CUMPLIDOS + 1))
    printf '%-54s %10s %2s %-5s %s\n' "$texto" ">=$cociente" ">=" 1.5 "$cumple"
    OBJETIVOS=$((OBJETIVOS + 1))
  else
    objetivo "$texto" "$cociente" ">=" 1.5
  fi
done
objetivo "rss maximo de modo2, un fichero (KiB)" "$rss_modo2" "<" 8192
objetivo "rss maximo de modo2 --gso, un fichero (KiB)" "$rss_modo2_gso" "<" 8192
objetivo "rss maximo de -f 1024, $ENTRELAZADOS a la vez (KiB)" "$ENTRELAZADO_RSS" "<" 65536
for modo in 1 2; do
  objetivo "demora mediana de la linea, modo $modo (ms)" "${DEMORA[$modo]}" "<=" 3
  for intervalo in $DEMORA_GOTEOS; do
    objetivo "demora p99, modo $modo, un datagrama cada $intervalo ms" \
      "${DEMORA_P99[${modo}_$intervalo]}" "<=" 3
  done
done
echo "objetivos cumplidos: $CUMPLIDOS de $OBJETIVOS"
echo "instrucciones por datagrama de la pasada: modo 2 $IR, modo 1 $IR_MODO1, -q modo 2" \
  "$IR_SILENCIOSO (antes de buscar una vez por lote: 1650.0, 432.4 y 1129.1; cuantas menos," \
  "mejor)"
