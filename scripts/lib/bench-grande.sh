# Sourced by scripts/bench, not run: a file of GRANDE_MB MB (about 1.5 million parts of
# VETH_TAMPARTE bytes for 2048) against the 50000-part file, each sent once over veth at the paced
# rate to client -q -r --max-partes, and both again to client -q --max-partes, without the
# syncs of -r: kernel drops, CPU per part, peak memory, bytes written to the records, and the
# time from the sender's end to "Completado!".
# shellcheck shell=bash

# One pass of the file given. strace, filtered in the kernel to write(2), which the receiver uses
# for its records and its lines alone (parts go by pwrite), stops it only there; medir takes the
# CPU and peak memory of both. The receiver's options follow the file. Leaves the figures in the
# GRANDE_* arrays under the key given.
declare -A GRANDE_PARTES GRANDE_CPU GRANDE_DESCARTES GRANDE_RSS GRANDE_REGISTROS GRANDE_ESCRITOS \
  GRANDE_DEMORA GRANDE_FICHERO
pasada_grande() {
  local clave=$1 fichero=$2 dir partes descartes fin visto=- cliente uso llamadas bytes
  shift 2
  usar_camino veth
  partes=$((($(stat -c %s "$fichero") + VETH_TAMPARTE - 1) / VETH_TAMPARTE))
  dir=$(mktemp -d "$TRABAJO/grande.XXXXXX")
  (cd "$dir" && exec "${EN_R[@]}" "$MEDIR" "$dir/uso" $((LIMITE_CORRIDA * 4)) -- \
    strace -f --seccomp-bpf -qq -y -s 0 -e trace=write -o "$dir/traza" -- \
    "$CLIENT" "$@" --max-partes "$partes" "$GRUPO" "$PUERTO" 2 >"$dir/salida" 2>"$dir/error") &
  MEDIDOR=$!
  esperar_union "$GRUPO"
  descartes=$(contador_udp RcvbufErrors)
  enviar_ficheros -r "$RITMO_PAUSADO" -- "$fichero" >/dev/null
  fin=$(date +%s.%N)
  # a pass that lost parts never completes: 20 s are enough for a sync of the whole file
  for _ in $(seq 2000); do
    if grep -q ': Completado!$' "$dir/salida"; then
      visto=$(date +%s.%N)
      break
    fi
    sleep 0.01
  done
  cliente=$(pgrep -P "$(pgrep -P "$MEDIDOR" | head -1)" | head -1 || true)
  kill -TERM "${cliente:-$MEDIDOR}" 2>/dev/null || true
  wait "$MEDIDOR" || true
  MEDIDOR=""
  uso=$(cat "$dir/uso")
  GRANDE_PARTES[$clave]=$partes
  GRANDE_DESCARTES[$clave]=$(($(contador_udp RcvbufErrors) - descartes))
  GRANDE_CPU[$clave]=$(calc "$(campo cpu_s "$uso") * 1e6 / $partes")
  GRANDE_RSS[$clave]=$(campo rss_kib "$uso")
  # bytes and calls of write(2) on the records and their side copies
  read -r llamadas bytes < <(awk '/write\(.*\.partes/ && $NF > 0 { b += $NF; n++ }
    END { print n + 0, b + 0 }' "$dir/traza")
  GRANDE_ESCRITOS[$clave]=$llamadas GRANDE_REGISTROS[$clave]=$bytes
  GRANDE_DEMORA[$clave]=-
  [ "$visto" = - ] || GRANDE_DEMORA[$clave]=$(calc "$visto - $fin")
  GRANDE_FICHERO[$clave]=distinto
  cmp -s "$dir/0001-0002-$(basename "$fichero")" "$fichero" && GRANDE_FICHERO[$clave]=igual
  rm -rf "$dir"
}

FICHERO_GRANDE=$TRABAJO/veth/grande
head -c $((GRANDE_MB * 1024 * 1024)) /dev/urandom >"$FICHERO_GRANDE"
pasada_grande pequeno "$FICHERO_VETH" -q -r
pasada_grande grande "$FICHERO_GRANDE" -q -r
pasada_grande pequeno_sin_r "$FICHERO_VETH" -q
pasada_grande grande_sin_r "$FICHERO_GRANDE" -q
rm -f "$FICHERO_GRANDE"
echo
echo "Un fichero de $GRANDE_MB MB frente a uno de $PARTES partes, una pasada por veth a" \
  "$RITMO_PAUSADO partes/s, a client -q -r --max-partes (*_sin_r: sin -r):"
printf '%-12s %9s %10s %9s %9s %15s %15s %10s %s\n' fichero partes descartes us/parte rss_kib \
  registro_bytes registro_escrit demora_s resultado
for clave in pequeno grande pequeno_sin_r grande_sin_r; do
  printf '%-12s %9s %10s %9s %9s %15s %15s %10s %s\n' "$clave" "${GRANDE_PARTES[$clave]}" \
    "${GRANDE_DESCARTES[$clave]}" "${GRANDE_CPU[$clave]}" "${GRANDE_RSS[$clave]}" \
    "${GRANDE_REGISTROS[$clave]}" "${GRANDE_ESCRITOS[$clave]}" "${GRANDE_DEMORA[$clave]}" \
    "${GRANDE_FICHERO[$clave]}"
done
GRANDE_RATIO=$(calc "${GRANDE_CPU[grande]} / ${GRANDE_CPU[pequeno]}")
GRANDE_RATIO_SIN_R=$(calc "${GRANDE_CPU[grande_sin_r]} / ${GRANDE_CPU[pequeno_sin_r]}")
GRANDE_REGISTRO_PCT=$(calc "${GRANDE_REGISTROS[grande]} * 100 / ($GRANDE_MB * 1048576)")
echo "us/parte del grande / del pequeno: $GRANDE_RATIO, sin -r $GRANDE_RATIO_SIN_R" \
  "(objetivo <= 1.1); registros: $GRANDE_REGISTRO_PCT% del fichero (objetivo < 1%);" \
  "demora_s: del fin del emisor a 'Completado!' (con -r, el fichero sincronizado, renombrado" \
  "y el directorio sincronizado; - si no se completo)"
