# Sourced by scripts/bench, not run: the other measures: several files at once, the write calls,
# the delay of a line, and the instructions per datagram of the pass.
# shellcheck shell=bash

# Several files at once: as many senders as files, each at its share of the paced rate, to one
# receiver that keeps them all in progress. Leaves the figures in the ENTRELAZADO_* variables.
entrelazados() {
  local dir i emisores=() total=$((ENTRELAZADOS * PARTES_ENTRELAZADO)) recibidas uso
  dir=$(mktemp -d "$TRABAJO/entrelazados.XXXXXX")
  for i in $(seq "$ENTRELAZADOS"); do
    head -c $((PARTES_ENTRELAZADO * TAMPARTE)) /dev/urandom >"$TRABAJO/e$i"
  done
  medir_en "$dir" "$CLIENT" -f 1024 "$GRUPO" "$PUERTO" 2
  esperar_union "$GRUPO"
  for i in $(seq "$ENTRELAZADOS"); do
    timeout "$LIMITE_CORRIDA" "$EMISOR" -p "$TAMPARTE" -r $((RITMO_PAUSADO / ENTRELAZADOS)) \
      "$GRUPO" "$PUERTO" "$TRABAJO/e$i" </dev/null 2>/dev/null &
    emisores+=($!)
  done
  wait "${emisores[@]}" || true
  esperar_cola_vacia
  parar_medido
  uso=$(cat "$dir/uso")
  recibidas=$(grep -c '^NO LA TENGO' "$dir/salida" || true)
  ENTRELAZADO_IGUALES=0
  for i in $(seq "$ENTRELAZADOS"); do
    if cmp -s "$dir/0001-0002-e$i" "$TRABAJO/e$i"; then
      ENTRELAZADO_IGUALES=$((ENTRELAZADO_IGUALES + 1))
    fi
  done
  # how often a line names another file than the line before: the files really were mixed
  ENTRELAZADO_CAMBIOS=$(awk -F'|' '/^T:/ { if ($3 != antes) n++; antes = $3 } END { print n - 1 }' \
    "$dir/salida")
  ENTRELAZADO_PERDIDAS=$((total - ${recibidas:-0}))
  ENTRELAZADO_RSS=$(campo rss_kib "$uso")
  rm -rf "$dir"
}
entrelazados

# The calls of one system call in strace's summary, 0 when there were none.
llamadas() { awk -v n="$2" '$NF == n { c = $4 } END { print c + 0 }' "$1"; }

# Write calls of mode 2 for the file sent once at the rate given (100k or gso), counted by
# strace; only the calls traced stop the receiver. With --gso the receive calls are few enough
# to be traced too without changing them. Leaves the counts in the ESCRITURAS_* arrays.
declare -A ESCRITURAS_PWRITE ESCRITURAS_PWRITEV ESCRITURAS_WRITE ESCRITURAS_PARTES RECEPCIONES
escrituras() {
  local ritmo=$1 dir traza cliente="" recibidas trazadas=pwrite64,pwritev,write
  [ "$ritmo" != gso ] || trazadas+=,recvmmsg
  dir=$(mktemp -d "$TRABAJO/escrituras.XXXXXX")
  (cd "$dir" && exec strace -f -c -o "$dir/traza" --seccomp-bpf -e trace="$trazadas" \
    -- "$CLIENT" "$GRUPO" "$PUERTO" 2 >"$dir/salida" 2>"$dir/error") &
  traza=$!
  MEDIDOR=$traza
  esperar_union "$GRUPO"
  cliente=$(ps -o pid= --ppid "$traza" | tr -d ' ')
  enviar "$ritmo" >/dev/null
  esperar_cola_vacia
  kill -TERM "${cliente:-$traza}"
  # strace ends as its receiver did, by the signal
  wait "$traza" || true
  MEDIDOR=""
  ESCRITURAS_PWRITE[$ritmo]=$(llamadas "$dir/traza" pwrite64)
  ESCRITURAS_PWRITEV[$ritmo]=$(llamadas "$dir/traza" pwritev)
  ESCRITURAS_WRITE[$ritmo]=$(llamadas "$dir/traza" write)
  RECEPCIONES[$ritmo]=$(llamadas "$dir/traza" recvmmsg)
  recibidas=$(grep -c '^NO LA TENGO' "$dir/salida" || true)
  recibidas=${recibidas:-0}
  [ "$recibidas" -gt 0 ] || recibidas=1
  ESCRITURAS_PARTES[$ritmo]=$recibidas
  rm -rf "$dir"
}
escrituras 100k
escrituras gso

# Delay of a datagram's summary line, from its send to its read on a pipe, in modes 1 and 2: the
# median, the 90th and 99th percentiles of DEMORA_N lone datagrams, one every DEMORA_MS ms, and of
# DEMORA_GOTEO_N datagrams trickling at each interval of DEMORA_GOTEOS ms.
declare -A DEMORA DEMORA_P90 DEMORA_P99 DEMORA_VISTAS DEMORA_ENVIADOS
for modo in 1 2; do
  for intervalo in "$DEMORA_MS" $DEMORA_GOTEOS; do
    n=$DEMORA_GOTEO_N
    [ "$intervalo" != "$DEMORA_MS" ] || n=$DEMORA_N
    demora=$(python3 bench/demora.py "$CLIENT" "$GRUPO" "$PUERTO" "$modo" "$n" "$intervalo")
    DEMORA[${modo}_$intervalo]=$(campo mediana_ms "$demora")
    DEMORA_P90[${modo}_$intervalo]=$(campo p90_ms "$demora")
    DEMORA_P99[${modo}_$intervalo]=$(campo p99_ms "$demora")
    DEMORA_VISTAS[${modo}_$intervalo]=$(campo vistas "$demora")
    DEMORA_ENVIADOS[${modo}_$intervalo]=$n
  done
  # the lone datagram's, as the targets and the summary line name it
  DEMORA[$modo]=${DEMORA[${modo}_$DEMORA_MS]}
  DEMORA_P90[$modo]=${DEMORA_P90[${modo}_$DEMORA_MS]}
done

# Instructions per datagram of the pass alone, without the kernel's share, in the mode given
# (and q: quiet).
instrucciones() {
  valgrind --tool=callgrind --toggle-collect='PasarLote*' \
    --callgrind-out-file="$TRABAJO/callgrind.out" "$PASADA" "$PASADA_N" "$@" \
    2>"$TRABAJO/valgrind.txt"
  calc "$(sed -n 's/^summary: *//p' "$TRABAJO/callgrind.out") / $PASADA_N"
}
IR=$(instrucciones 2)
IR_MODO1=$(instrucciones 1)
IR_SILENCIOSO=$(instrucciones 2 q)
# a stranger's flood: every datagram a name of its own, refused, its line mostly left untold
IR_RIADA=$(instrucciones 2 q riada)
