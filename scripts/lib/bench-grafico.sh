# Sourced by scripts/bench, not run: the chart.
# shellcheck shell=bash

# The chart, two panels. Left: one group of bars per rate and path, one bar per receiver, the
# peer beside mode 2; each bar is the median, its line goes from the lowest run to the highest; a
# receiver not run at a rate has no bar there. Right: the highest rate without a drop of mode 2
# and of the pwrite loop, median and range of the confirming runs.
DATOS_GRAFICO=$TRABAJO/grafico.dat
RECEPTORES_GRAFICO="descartar pwrite bloques modo1 modo0 modo2 protopausa udpcast"
DATOS_MAXIMOS=$TRABAJO/maximos.dat
{
  echo ritmo
  for ritmo in max 100k gso vmax v100k; do
    printf '"%s"' "$(nombre_ritmo $ritmo)"
    for nombre in $RECEPTORES_GRAFICO; do
      if [ -z "${CPUS[${nombre}_$ritmo]:-}" ]; then
        printf ' NaN NaN NaN'
        continue
      fi
      # shellcheck disable=SC2086
      printf ' %s %s %s' "${CPU[${nombre}_$ritmo]}" "$(minimo ${CPUS[${nombre}_$ritmo]})" \
        "$(maximo ${CPUS[${nombre}_$ritmo]})"
    done
    echo
  done
} >"$DATOS_GRAFICO"
{
  echo camino pwrite min max modo2 min max
  for camino in veth lo; do
    [ "$camino" = veth ] && printf '"veth, emisor sin --gso"' || printf '"loopback, emisor --gso"'
    for nombre in pwrite modo2q; do
      # shellcheck disable=SC2086
      printf ' %s %s %s' "$(calc "${MAXIMO[${nombre}_$camino]} / 1000")" \
        "$(calc "$(minimo ${MAXIMOS[${nombre}_$camino]}) / 1000")" \
        "$(calc "$(maximo ${MAXIMOS[${nombre}_$camino]}) / 1000")"
    done
    echo
  done
} >"$DATOS_MAXIMOS"
gnuplot <<FIN
set terminal pngcairo size 1500,620 font "sans,11"
set output "$GRAFICO"
set multiplot layout 1,2 columns title "carga al empezar: $CARGA ($(nproc) CPU)" font "sans,11"
set style data histograms
set style histogram errorbars gap 1 lw 1.5
set style fill solid 0.9 border rgb "#333333"
set boxwidth 0.9
set grid ytics
set yrange [0:*]
set offsets 0, 0, graph 0.1, 0
set key top left autotitle columnhead font "sans,10"
set size 0.7, 1
set title "CPU del receptor por parte: mediana, menor y mayor de $REPETICIONES corridas"
set ylabel "us de CPU (usuario + sistema) por parte"
set xlabel "ritmo del emisor (loopback: partes de $TAMPARTE bytes; veth: de $VETH_TAMPARTE, que el extremo receptor junta)"
set xrange [-0.6:4.6]
array COLOR[8] = ["#b0b0b0", "#707070", "#303030", "#9ecae1", "#6baed6", "#08519c", \\
                  "#31a354", "#e6550d"]
array NOMBRE[8] = ["recvfrom", "recvfrom + pwrite", "recvmmsg GRO + bloques", "client modo 1", \\
                   "client modo 0", "client modo 2", "prototipo: modo 2 con pausa de $PAUSA_US us", \\
                   "udp-receiver"]
N = 8
plot for [k=1:N] "$DATOS_GRAFICO" using 3*k-1:3*k:3*k+1:xtic(1) title NOMBRE[k] lc rgb COLOR[k], \\
     for [k=1:N] "$DATOS_GRAFICO" using (\$0 + (k - 1 - (N - 1) / 2.0) / (N + 1)):3*k+1: \\
       (sprintf("%.1f", column(3*k-1))) with labels offset 0, 0.6 font "sans,7" notitle
set size 0.3, 1
set origin 0.7, 0
set title "ritmo maximo sin un descarte, $FICHEROS_GRANDES ficheros de $PARTES partes\\n\\
(receptor y emisor en una CPU cada uno; $CONFIRMACIONES corridas)"
set ylabel "miles de datagramas por segundo"
set xlabel ""
set xrange [-0.6:1.6]
array COLOR_M[2] = ["#707070", "#08519c"]
array NOMBRE_M[2] = ["recvfrom + pwrite", "client -q modo 2"]
plot for [k=1:2] "$DATOS_MAXIMOS" using 3*k-1:3*k:3*k+1:xtic(1) title NOMBRE_M[k] lc rgb COLOR_M[k], \\
     for [k=1:2] "$DATOS_MAXIMOS" using (\$0 + (k - 1.5) / 3.0):3*k+1: \\
       (sprintf("%.0f", column(3*k-1))) with labels offset 0, 0.7 font "sans,9" notitle
unset multiplot
FIN
echo "grafico: $GRAFICO"
