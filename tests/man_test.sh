#!/usr/bin/env bash
# Renders the man pages of client and emisor and fails on any warning: man_test.sh <man dir>.
set -euo pipefail

dir=${1:?Uso: man_test.sh <directorio de las paginas>}
if ! command -v groff >/dev/null; then
  echo "groff no esta instalado: no se comprueban las paginas de manual"
  exit 0
fi
# man-db's own checks add to groff's; a stub man, as on minimized systems, is left out
con_man=false
if command -v man >/dev/null && man --version >/dev/null 2>&1; then con_man=true; fi

fallos=0
fallar() {
  echo "$1: $2" >&2
  fallos=$((fallos + 1))
}

for pagina in client.1 emisor.1; do
  ruta=$dir/$pagina
  if [ ! -f "$ruta" ]; then
    fallar "$pagina" "no existe en $dir"
    continue
  fi
  # the default device and the terminal one break lines differently; both must be quiet
  for dispositivo in ps utf8; do
    avisos=$(groff -man -ww -z -T"$dispositivo" "$ruta" 2>&1) || fallar "$pagina" "groff -T$dispositivo termino con error"
    [ -z "$avisos" ] || fallar "$pagina" "groff -T$dispositivo avisa:"$'\n'"$avisos"
  done
  if $con_man; then
    avisos=$(MANWIDTH=80 man --warnings -l "$ruta" 2>&1 >/dev/null) || fallar "$pagina" "man -l termino con error"
    [ -z "$avisos" ] || fallar "$pagina" "man -l avisa:"$'\n'"$avisos"
    texto=$(MANWIDTH=80 man -l "$ruta" 2>/dev/null)
    grep -q '^NOMBRE' <<<"$texto" || fallar "$pagina" "man -l no muestra la seccion NOMBRE"
  fi
done

if [ "$fallos" -ne 0 ]; then
  echo "$fallos comprobaciones de las paginas de manual fallaron" >&2
  exit 1
fi
echo "Paginas de manual sin avisos: client.1 emisor.1"
