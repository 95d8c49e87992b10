# Sourced by scripts/bench, not run: the searches for the highest rate taken without a drop.
# shellcheck shell=bash

# One run of the search for the highest rate: the receiver pinned to its CPU, the sender to
# another, FICHEROS_GRANDES files sent at once at the rate given. Clean when the kernel dropped
# nothing (the namespace's RcvbufErrors, and for client the drops it reports) and every part
# arrived (client: every file equal to its source; the loop: its count of datagrams). Leaves the
# sender's rate in ENVIADO.
LIMPIA_DESCARTES=0 ENVIADO=0
corrida_limpia() {
  local nombre=$1 envio=$2 ritmo=$3 dir errores tandas=() bien=0 i
  [ "$envio" != gso ] || tandas=(--gso)
  dir=$(mktemp -d "$TRABAJO/limpia.XXXXXX")
  receptor "$nombre"
  medir_en "$dir" "${RECEPTOR[@]}"
  esperar_union "$GRUPO"
  errores=$(contador_udp RcvbufErrors)
  ENVIADO=$(enviar_ficheros "${tandas[@]}" -r "$ritmo" -- "${GRANDES[@]}")
  esperar_cola_vacia
  parar_medido
  LIMPIA_DESCARTES=$(($(contador_udp RcvbufErrors) - errores))
  case $nombre in
    modo2q)
      for i in $(seq "$FICHEROS_GRANDES"); do
        cmp -s "$dir/0001-0002-grande$i" "$FICHERO_AQUI" && bien=$((bien + 1))
      done
      grep -q '^El nucleo descarto' "$dir/salida" && LIMPIA_DESCARTES=$((LIMPIA_DESCARTES + 1))
      bien=$((bien * PARTES))
      ;;
    *) bien=$(campo recibidos "$(cat "$dir/error")") ;;
  esac
  rm -rf "$dir"
  [ "$LIMPIA_DESCARTES" -eq 0 ] && [ "${bien:-0}" -eq $((FICHEROS_GRANDES * PARTES)) ]
}

# The highest paced rate at which the receiver takes every part without a drop, on the current
# path, fed plain or by emisor --gso: doubled from BUSQUEDA_DESDE until a run is not clean (or
# the sender no longer reaches the rate asked), then halved between the highest clean rate and
# the lowest failed one; then CONFIRMACIONES runs at the rate found, and if one is not clean, at
# a rate a tenth lower once more. Leaves in MAXIMOS the sender's rate of each confirming run, in
# PASOS_BUSQUEDA the rates tried (a '+' after a clean one) and in CONFIRMADAS the clean runs.
declare -A MAXIMOS PASOS_BUSQUEDA CONFIRMADAS TOPE_EMISOR
buscar_ritmo() {
  local nombre=$1 envio=$2 clave=$3 bueno=0 malo=0 ritmo=$BUSQUEDA_DESDE limpias intento
  PASOS_BUSQUEDA[$clave]="" TOPE_EMISOR[$clave]=no
  for _ in $(seq "$BUSQUEDA_PASOS"); do
    if corrida_limpia "$nombre" "$envio" "$ritmo"; then
      bueno=$ritmo
      PASOS_BUSQUEDA[$clave]+="$ritmo+ "
      # a sender that cannot go faster ends the search: the receiver took all it was given
      if [ "${ENVIADO:-0}" -lt $((ritmo * 95 / 100)) ]; then
        TOPE_EMISOR[$clave]=si
        break
      fi
    else
      malo=$ritmo
      PASOS_BUSQUEDA[$clave]+="$ritmo "
    fi
    if [ "$malo" -eq 0 ]; then
      ritmo=$((ritmo * 2))
      [ "$ritmo" -le "$BUSQUEDA_TOPE" ] || break
    elif [ "$bueno" -eq 0 ]; then
      ritmo=$((ritmo / 2))
    else
      [ $((malo - bueno)) -gt $((bueno / 16)) ] || break
      ritmo=$(((bueno + malo) / 2))
    fi
  done
  [ "$bueno" -gt 0 ] || bueno=$ritmo
  for intento in 1 2; do
    limpias=0 MAXIMOS[$clave]=""
    for _ in $(seq "$CONFIRMACIONES"); do
      corrida_limpia "$nombre" "$envio" "$bueno" && limpias=$((limpias + 1))
      MAXIMOS[$clave]+="${ENVIADO:-0} "
    done
    CONFIRMADAS[$clave]=$limpias
    [ "$limpias" -lt "$CONFIRMACIONES" ] && [ "$intento" = 1 ] || break
    bueno=$((bueno * 9 / 10))
    PASOS_BUSQUEDA[$clave]+="(${bueno}) "
  done
  # the sender bounds the figure only if the receiver never dropped anything
  [ "$malo" -eq 0 ] && [ "$limpias" -eq "$CONFIRMACIONES" ] || TOPE_EMISOR[$clave]=no
}

# The four searches: mode 2 (quiet, as a service runs it) and the pwrite loop, fed plain over veth
# and by emisor --gso on the loopback.
if [ "$(nproc)" -ge 2 ]; then
  FIJAR_RECEPTOR=(taskset -c "$CPU_RECEPTOR") FIJAR_EMISOR=(taskset -c "$CPU_EMISOR")
fi
for camino in veth lo; do
  usar_camino "$camino"
  # over veth the receiving host's share of the kernel's work runs on the receiver's CPU: on the
  # sender's, the sender alone could not outrun either receiver
  [ "$camino" != veth ] || [ ${#FIJAR_RECEPTOR[@]} -eq 0 ] ||
    taskset -pc "$CPU_RECEPTOR" "$HILO_NAPI" >/dev/null
  GRANDES=()
  for i in $(seq "$FICHEROS_GRANDES"); do
    ln -f "$FICHERO_AQUI" "$(dirname "$FICHERO_AQUI")/grande$i"
    GRANDES+=("$(dirname "$FICHERO_AQUI")/grande$i")
  done
  envio=plano
  [ "$camino" = veth ] || envio=gso
  for nombre in modo2q pwrite; do buscar_ritmo "$nombre" "$envio" "${nombre}_$camino"; done
done
FIJAR_RECEPTOR=() FIJAR_EMISOR=()
usar_camino lo
