#!/usr/bin/env bash
# Run by scripts/probar-servicio inside the booted container, as its check unit: installs the package, tries its service as an operator would, and writes one line per check (ok or FALLO) to <dir>/resultados.
set -euo pipefail

dir=${1:?Uso: probar-servicio-dentro.sh <directorio con el paquete>}
deb=$dir/receptor-multicast.deb
resultados=$dir/resultados
estado=/var/lib/receptor-multicast
conf=/etc/receptor-multicast
originales=/srv/prueba
grupo=239.1.2.3
: >"$resultados"

# Runs one check, a command that says on its output why it fails, and writes its line.
comprobar() {
  local descripcion=$1 motivo
  shift
  if motivo=$("$@" 2>&1); then
    echo "ok: $descripcion" >>"$resultados"
  else
    echo "FALLO: $descripcion: $(tr '\n' ' ' <<<"$motivo")" >>"$resultados"
  fi
}

# The journal's line of what the budget left untold, whole: the count, the flood's cause with its
# sender and count first, then any other.
dice_lo_callado() {
  diario avisos | grep -qE "^Avisos sin decir en los ultimos [0-9]+ s: [0-9]+\. Nombre con '/' no permitido, descartado, de [0-9.]+: [0-9]+\.( [^:]+: [0-9]+\.)*$"
}

# True once the command succeeds, false when the seconds given have passed.
esperar() {
  local limite=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$limite" ] || return 1
    sleep 0.2
  done
}

unidad() { echo "receptor-multicast@$1.service"; }
propiedad() { systemctl show -p "$2" --value "$(unidad "$1")"; }
diario() { journalctl -q -o cat --no-pager -u "$(unidad "$1")"; }
en_diario() { diario "$1" | grep -qF -- "$2"; }
linea_en_diario() { diario "$1" | grep -qxF -- "$2"; }
activa() { [ "$(propiedad "$1" ActiveState)" = active ] && [ "$(propiedad "$1" MainPID)" != 0 ]; }
fallida() { [ "$(propiedad "$1" ActiveState)" = failed ]; }
reiniciada() { [ "$(propiedad "$1" NRestarts)" -ge 1 ]; }
carrusel() { echo "receptor-multicast-emisor@$1.service"; }
propiedad_carrusel() { systemctl show -p "$2" --value "$(carrusel "$1")"; }
diario_carrusel() { journalctl -q -o cat --no-pager -u "$(carrusel "$1")"; }
carrusel_en() { [ "$(propiedad_carrusel "$1" ActiveState)" = "$2" ]; }
comprobador=/usr/lib/receptor-multicast/comprobar-estado
ejecucion=/run/receptor-multicast

# The check as a monitoring agent runs it: a user in no group of the service. Prints its status
# and its line.
comprobar_estado() {
  local instancia=$1 linea estado=0
  shift
  linea=$(runuser -u nobody -- "$comprobador" "$@" "$ejecucion/$instancia/estado.json") || estado=$?
  echo "$estado $linea"
}

# True once the check gives the status and a line that holds the text, false after segundos.
esperar_veredicto() {
  local segundos=$1 estado=$2 texto=$3 instancia=$4 visto
  shift 4
  local limite=$((SECONDS + segundos))
  while :; do
    visto=$(comprobar_estado "$instancia" "$@")
    [[ $visto == "$estado "*"$texto"* ]] && return 0
    [ "$SECONDS" -lt "$limite" ] || break
    sleep 0.5
  done
  echo "el comprobador dice: $visto"
  return 1
}

configurar() {
  local instancia=$1
  shift
  printf '%s\n' "$@" >"$conf/$instancia.conf"
}

# Sends a file until it is complete in the instance's directory, a few times at most: the first
# datagrams may come before the receiver has joined the group. Further words are emisor's options.
enviar_hasta_completar() {
  local instancia=$1 nombre=$2 puerto=$3 i
  shift 3
  for i in 1 2 3; do
    (cd "$originales" && emisor "$@" "$grupo" "$puerto" "$nombre" 2>/dev/null) || true
    esperar 5 cmp "$originales/$nombre" "$estado/$instancia/0001-0002-$nombre" && return 0
  done
  echo "0001-0002-$nombre no llego entero a $estado/$instancia"
  return 1
}

# Sends a file with half its datagrams left out, so that it stays in progress; to port 5000
# unless another is given.
enviar_a_medias() {
  local instancia=$1 nombre=$2 puerto=${3:-5000} i
  for i in 1 2 3; do
    (cd "$originales" && emisor --perdida 50% --semilla "$i" "$grupo" "$puerto" "$nombre" 2>/dev/null) || true
    esperar 3 test -f "$estado/$instancia/0001-0002-$nombre.tmp" && return 0
  done
  echo "0001-0002-$nombre.tmp no aparece en $estado/$instancia"
  return 1
}

# Only the loopback, with the multicast route through it: nothing leaves the container.
red_privada() {
  local interfaz
  for interfaz in $(ip -o link show | awk -F': ' '{print $2}'); do
    [ "$interfaz" = lo ] || {
      echo "se ve la interfaz $interfaz"
      return 1
    }
  done
  ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo
}

instalar() {
  dpkg -i "$deb" >"$dir/dpkg-instalar.log" 2>&1 || {
    cat "$dir/dpkg-instalar.log"
    return 1
  }
  local uid
  uid=$(id -u receptor-multicast) && [ "$uid" -lt 1000 ] && getent group receptor-multicast >/dev/null ||
    {
      echo "sin usuario de sistema receptor-multicast"
      return 1
    }
}

# The -x program records where the sandbox lets it write who it ran as and what it could do.
preparar_programa() {
  cat >/usr/local/bin/entregado <<'EOF'
#!/bin/sh
{
  echo "fichero $1"
  echo "usuario $(id -un)"
  grep '^NoNewPrivs:' /proc/self/status
  if touch /etc/escrito-por-entregado 2>/dev/null; then echo "etc escribible"; else echo "etc de solo lectura"; fi
  grep -o 'receptor-multicast@[a-z]*\.service' /proc/self/cgroup | head -n 1
} >>"$(dirname "$1")/entregas"
EOF
  chmod 755 /usr/local/bin/entregado
}

recibe_fichero() {
  configurar noticias "GRUPO=$grupo" PUERTO=5000 MODO=2 'OPCIONES="-q -w -r -x /usr/local/bin/entregado"'
  systemctl enable --now "$(unidad noticias)" || return 1
  esperar 10 en_diario noticias "Recibiendo $grupo, puerto 5000" || {
    echo "el receptor no dice que recibe"
    diario noticias
    return 1
  }
  enviar_hasta_completar noticias datos 5000 || return 1
  local fichero=$estado/noticias/0001-0002-datos modo
  modo=$(stat -c '%U:%G %a' "$fichero")
  [ "$modo" = "receptor-multicast:receptor-multicast 640" ] || {
    echo "$fichero es $modo"
    return 1
  }
  modo=$(stat -c '%U:%G %a' "$estado/noticias")
  [ "$modo" = "receptor-multicast:receptor-multicast 750" ] || {
    echo "$estado/noticias es $modo"
    return 1
  }
}

legible_por_el_grupo() {
  local fichero=$estado/noticias/0001-0002-datos
  adduser --system --quiet --no-create-home lector && adduser --quiet lector receptor-multicast || return 1
  runuser -u lector -- cmp "$originales/datos" "$fichero" || {
    echo "un miembro del grupo no lo lee"
    return 1
  }
  if runuser -u nobody -- cat "$fichero" >/dev/null 2>&1; then
    echo "quien no es del grupo lo lee"
    return 1
  fi
}

programa_aislado() {
  local entregas=$estado/noticias/entregas
  esperar 10 grep -q '^receptor-multicast@' "$entregas" || {
    echo "el programa no dejo su registro"
    return 1
  }
  local esperado="fichero $estado/noticias/0001-0002-datos
usuario receptor-multicast
NoNewPrivs:	1
etc de solo lectura
receptor-multicast@noticias.service"
  [ "$(cat "$entregas")" = "$esperado" ] || {
    echo "el programa registro: $(cat "$entregas")"
    return 1
  }
  esperar 5 en_diario noticias "0001-0002-datos: /usr/local/bin/entregado termino con estado 0." || {
    echo "el diario no dice que el programa termino"
    return 1
  }
}

# muro's -x program lists what it reaches of noticias' and of its own from its sandbox: its own.
muros_entre_instancias() {
  local n=$estado/noticias propios="$estado/muro/x $ejecucion/muro/x /tmp/x /dev/shm/x" hecho=$estado/muro/0001-0002-segundo.hecho
  printf '#!/bin/sh\nexec >"$1.hecho" 2>/dev/null\nfor f in %s; do touch $f && echo $f; done\nfor f in %s; do cat $f >/dev/null && echo $f; done\n' \
    "$ejecucion/noticias/x $n/x /run/lock/x $propios" "$n/0001-0002-datos /proc/$(propiedad noticias MainPID)/cwd/0001-0002-datos" \
    >/usr/local/bin/intentar && chmod 755 /usr/local/bin/intentar
  arrancar_con muro 5003 -x /usr/local/bin/intentar && enviar_hasta_completar muro segundo 5003 &&
    esperar 5 en_diario muro "intentar termino con estado" || return 1
  [ "$(tr '\n' ' ' <"$hecho")" = "$propios " ] && [ ! -e /dev/shm/x ] || {
    echo "desde muro se alcanza: $(tr '\n' ' ' <"$hecho")y fuera se ve: $(ls /dev/shm)"
    return 1
  }
}

sin_puerto_se_para() {
  configurar sinpuerto "GRUPO=$grupo" MODO=2
  systemctl start "$(unidad sinpuerto)" || true
  esperar 10 fallida sinpuerto || {
    echo "la instancia no falla: $(propiedad sinpuerto ActiveState)"
    return 1
  }
  # longer than RestartSec, so that a restart would have come
  sleep 4
  local visto
  visto="$(propiedad sinpuerto ActiveState) $(propiedad sinpuerto NRestarts) $(propiedad sinpuerto ExecMainStatus)"
  [ "$visto" = "failed 0 1" ] || {
    echo "estado, reinicios y estado de salida: $visto"
    return 1
  }
  en_diario sinpuerto "Falta PUERTO en $conf/sinpuerto.conf" || {
    echo "el diario no dice por que:"
    diario sinpuerto
    return 1
  }
}

# type 0001, subtype 0002, part 1 of 50001 (0xc351), the name in 32 bytes, then some content
datagrama_excesivo() {
  local nombre=excesivo relleno
  relleno=$(printf '\\x00%.0s' $(seq $((32 - ${#nombre}))))
  # shellcheck disable=SC2059 # the name and its padding are part of the escaped bytes
  printf "\\x00\\x01\\x00\\x02\\x00\\x00\\x00\\x01\\x00\\x00\\xc3\\x51$nombre${relleno}hola" >"/dev/udp/$grupo/5001"
}

# A stranger's datagram over the part-count limit while a file is in progress: refused, told as
# a warning, no restart, and the file completes.
excesivo_no_para() {
  configurar limite "GRUPO=$grupo" PUERTO=5001 MODO=2 'OPCIONES="-q"'
  systemctl start "$(unidad limite)" || return 1
  esperar 10 en_diario limite "Recibiendo $grupo, puerto 5001" || {
    echo "el receptor no dice que recibe"
    return 1
  }
  (cd "$originales" && emisor --perdida 50% --semilla 7 "$grupo" 5001 parcial 2>/dev/null) || true
  esperar 3 test -f "$estado/limite/0001-0002-parcial.tmp" || {
    echo "0001-0002-parcial no queda en curso"
    return 1
  }
  local pid
  pid=$(propiedad limite MainPID)
  datagrama_excesivo
  datagrama_excesivo
  esperar 5 linea_en_diario limite \
    "0001-0002-excesivo: Total de partes 50001 mayor que el maximo (50000), descartado." || {
    echo "el diario no dice el rechazo: $(diario limite | tr '\n' ' ')"
    return 1
  }
  enviar_hasta_completar limite parcial 5001 || return 1
  [ "$(propiedad limite NRestarts) $(propiedad limite MainPID)" = "0 $pid" ] || {
    echo "la instancia se reinicio: $(propiedad limite NRestarts) reinicios"
    return 1
  }
}

# The journal names the receiver client, and tells a refusal as a warning, a start as an event.
diario_con_prioridades() {
  local avisos
  avisos=$(journalctl -q --no-pager -o cat -p warning -u "$(unidad limite)")
  grep -qxF "0001-0002-excesivo: Total de partes 50001 mayor que el maximo (50000), descartado." \
    <<<"$avisos" || {
    echo "el rechazo no es un aviso: $avisos"
    return 1
  }
  ! grep -qF "Recibiendo" <<<"$avisos" || {
    echo "el arranque sale como aviso"
    return 1
  }
  journalctl -q --no-pager -o cat -t client | grep -qxF "Recibiendo $grupo, puerto 5001, modo 2, en $estado/limite" || {
    echo "el diario no nombra client al receptor"
    return 1
  }
}

# Ready once joined, its status said to systemd; stopped (SIGSTOP), the watchdog restarts it.
vigilada_por_systemd() {
  local pid texto
  pid=$(propiedad limite MainPID)
  texto=$(propiedad limite StatusText)
  [[ "$texto" == "Unido a $grupo"* ]] || {
    echo "estado dicho a systemd: $texto"
    return 1
  }
  systemctl kill -s SIGSTOP --kill-whom=main "$(unidad limite)"
  esperar 25 reiniciada limite || {
    echo "parada, systemd no la reinicia: $(propiedad limite ActiveState)"
    return 1
  }
  esperar 10 activa limite && [ "$(propiedad limite MainPID)" != "$pid" ] || {
    echo "tras el perro guardian no vuelve a estar activa"
    return 1
  }
}

parada_y_reanudacion() {
  local dir_instancia=$estado/noticias
  enviar_a_medias noticias parcial || return 1
  systemctl stop "$(unidad noticias)"
  [ -f "$dir_instancia/.0001-0002-parcial.partes" ] && [ -f "$dir_instancia/0001-0002-parcial.tmp" ] || {
    echo "tras la parada no quedan el registro y el fichero temporal: $(ls -A "$dir_instancia")"
    return 1
  }
  systemctl start "$(unidad noticias)"
  esperar 10 activa noticias || return 1
  enviar_hasta_completar noticias parcial 5000 || return 1
  en_diario noticias "0001-0002-parcial: Reanudado con " || {
    echo "el diario no dice Reanudado:"
    diario noticias | grep -F parcial
    return 1
  }
}

# The status file of every instance, in its runtime directory, for any user to read: the check
# run by one outside the group reads it (its verdict is tried below).
estado_legible() {
  local modo
  modo=$(stat -c '%U:%G %a' "$ejecucion/noticias" "$ejecucion/noticias/estado.json" | paste -sd' ')
  [ "$modo" = "receptor-multicast:receptor-multicast 755 receptor-multicast:receptor-multicast 644" ] || {
    echo "el directorio y el fichero de estado son: $modo"
    return 1
  }
  runuser -u nobody -- "$comprobador" "$ejecucion/noticias/estado.json" >/dev/null || [ $? -ne 3 ] || {
    echo "quien no es del grupo no puede comprobarlo"
    return 1
  }
}

# A carousel sends a file over and over to a receiver of its own; the sender's user is made for
# the start, and is not root.
carrusel_envia() {
  cp "$originales/datos" "$originales/carrusel"
  configurar vigilado "GRUPO=$grupo" PUERTO=5002 MODO=2 'OPCIONES="-q -w"'
  systemctl start "$(unidad vigilado)" || return 1
  esperar 10 en_diario vigilado "Recibiendo $grupo, puerto 5002" || return 1
  printf '%s\n' "GRUPO=$grupo" PUERTO=5002 "FICHEROS=$originales/carrusel" 'OPCIONES="-r 2000"' \
    >"$conf/emisor/carrusel.conf"
  systemctl start "$(carrusel carrusel)" || return 1
  esperar 20 cmp "$originales/carrusel" "$estado/vigilado/0001-0002-carrusel" || {
    echo "0001-0002-carrusel no llego entero: $(diario_carrusel carrusel)"
    return 1
  }
  local uid
  uid=$(stat -c %u "/proc/$(propiedad_carrusel carrusel MainPID)")
  [ "$uid" -ge 61184 ] && [ "$uid" -le 65519 ] || {
    echo "el emisor corre con el usuario $uid, no con uno hecho para el arranque"
    return 1
  }
}

# Signed carousels: an instance with CLAVES (a directory of public keys) never completes a file
# sent unsigned, and says so once; a carousel with FIRMA and FEC gets its file to it whole.
carrusel_firmado() {
  local claves=$originales/claves
  mkdir -p "$claves"
  emisor --generar-claves "$claves/carrusel" >/dev/null || return 1
  # the carousel's user, made at its start, must read its key: here anyone may
  chmod 0644 "$claves/carrusel.clave"
  cp "$originales/datos" "$originales/firmado"
  configurar firmada "GRUPO=$grupo" PUERTO=5010 MODO=2 "CLAVES=$claves" 'OPCIONES="-q --reparar"'
  systemctl start "$(unidad firmada)" || return 1
  esperar 10 en_diario firmada "Recibiendo $grupo, puerto 5010" || return 1
  (cd "$originales" && emisor "$grupo" 5010 firmado 2>/dev/null) || return 1
  esperar 5 linea_en_diario firmada "0001-0002-firmado: Sin descripcion firmada: no se recibe hasta que llegue." || {
    echo "sin firma, el diario no lo dice: $(diario firmada | tail -3)"
    return 1
  }
  [ ! -e "$estado/firmada/0001-0002-firmado" ] || {
    echo "un fichero sin firma se dio por completo"
    return 1
  }
  printf '%s\n' "GRUPO=$grupo" PUERTO=5010 "FICHEROS=$originales/firmado" 'OPCIONES="-r 2000"' \
    "FIRMA=$claves/carrusel.clave" FEC=8:2 >"$conf/emisor/firmado.conf"
  systemctl start "$(carrusel firmado)" || return 1
  esperar 20 cmp "$originales/firmado" "$estado/firmada/0001-0002-firmado" || {
    echo "0001-0002-firmado no llego entero: $(diario_carrusel firmado | tail -3)"
    return 1
  }
  systemctl stop "$(carrusel firmado)" "$(unidad firmada)"
}

# A carousel without FICHEROS, or with a file that only root reads, stops without restarts and
# its journal says why.
carrusel_se_para() {
  local instancia=$1 esperado=$2 visto
  esperar 10 carrusel_en "$instancia" failed || {
    echo "$instancia no falla: $(propiedad_carrusel "$instancia" ActiveState)"
    return 1
  }
  sleep 4
  visto="$(propiedad_carrusel "$instancia" ActiveState) $(propiedad_carrusel "$instancia" NRestarts) $(propiedad_carrusel "$instancia" ExecMainStatus)"
  [ "$visto" = "failed 0 1" ] || {
    echo "$instancia: estado, reinicios y estado de salida: $visto"
    return 1
  }
  diario_carrusel "$instancia" | grep -qF -- "$esperado" || {
    echo "el diario de $instancia no dice '$esperado': $(diario_carrusel "$instancia")"
    return 1
  }
}

carrusel_erroneo() {
  printf '%s\n' "GRUPO=$grupo" PUERTO=5002 >"$conf/emisor/sinficheros.conf"
  head -c 1000 /dev/urandom >"$originales/secreto"
  chmod 600 "$originales/secreto"
  printf '%s\n' "GRUPO=$grupo" PUERTO=5002 "FICHEROS=$originales/secreto" >"$conf/emisor/ajeno.conf"
  systemctl start "$(carrusel sinficheros)" "$(carrusel ajeno)" || true
  carrusel_se_para sinficheros "Falta FICHEROS en $conf/emisor/sinficheros.conf" &&
    carrusel_se_para ajeno "Error al abrir el fichero $originales/secreto: Permission denied"
}

# Healthy while the carousel sends; stopped when the receiver is (SIGSTOP), as soon as its status
# file is 5 s old, and healthy again once it goes on, with the carousel's datagrams waiting for
# it; deaf once the carousel stops, past the limit of silence. A watchdog that restarts a
# stopped receiver first is taken as well: the check is made within its window.
veredictos_del_comprobador() {
  esperar_veredicto 5 0 "RECEPTOR OK - unido al grupo, ultimo datagrama hace " vigilado -s 5 || return 1
  local pid limite=$((SECONDS + 15)) visto=
  pid=$(propiedad vigilado MainPID)
  systemctl kill --kill-who=main -s SIGSTOP "$(unidad vigilado)"
  until [[ $visto == "2 RECEPTOR CRITICAL - el fichero de estado no se reescribe desde hace "* ]]; do
    [ "$(propiedad vigilado MainPID)" = "$pid" ] || break
    [ "$SECONDS" -lt "$limite" ] || {
      systemctl kill --kill-who=main -s SIGCONT "$(unidad vigilado)"
      echo "detenido, el comprobador dice: $visto"
      return 1
    }
    sleep 0.5
    visto=$(comprobar_estado vigilado)
  done
  systemctl kill --kill-who=main -s SIGCONT "$(unidad vigilado)"
  esperar_veredicto 10 0 "RECEPTOR OK - unido al grupo" vigilado -s 5 || return 1
  systemctl stop "$(carrusel carrusel)"
  esperar_veredicto 15 2 "ningun datagrama desde hace " vigilado -s 2
}

# The exposure that systemd-analyze security gives each unit here, as a note among the results.
exposicion() {
  local unidad
  for unidad in "$(unidad noticias)" "$(carrusel carrusel)"; do
    echo "nota: exposicion de $unidad segun systemd-analyze security: $(systemd-analyze security --no-pager \
      "$unidad" 2>&1 | tail -n 1 | sed -n 's/.*: \([0-9.]*\) .*/\1/p')" >>"$resultados"
  done
}

reinstalar_reinicia() {
  local -A antes
  antes[noticias]=$(propiedad noticias MainPID)
  antes[limite]=$(propiedad limite MainPID)
  antes[carrusel]=$(propiedad_carrusel carrusel MainPID)
  dpkg -i "$deb" >"$dir/dpkg-reinstalar.log" 2>&1 || {
    cat "$dir/dpkg-reinstalar.log"
    return 1
  }
  local instancia
  for instancia in noticias limite; do
    esperar 10 activa "$instancia" || {
      echo "$instancia no esta activa tras instalar de nuevo"
      return 1
    }
    [ "$(propiedad "$instancia" MainPID)" != "${antes[$instancia]}" ] || {
      echo "$instancia sigue con el proceso ${antes[$instancia]}"
      return 1
    }
  done
  esperar 10 carrusel_en carrusel active || {
    echo "el carrusel no esta activo tras instalar de nuevo"
    return 1
  }
  [ "$(propiedad_carrusel carrusel MainPID)" != "${antes[carrusel]}" ] || {
    echo "el carrusel sigue con el proceso ${antes[carrusel]}"
    return 1
  }
  # an instance that was not running stays as it was
  fallida sinpuerto || {
    echo "sinpuerto pasa a $(propiedad sinpuerto ActiveState)"
    return 1
  }
}

quitar_para() {
  enviar_a_medias noticias resto || return 1
  dpkg -r receptor-multicast >"$dir/dpkg-quitar.log" 2>&1 || {
    cat "$dir/dpkg-quitar.log"
    return 1
  }
  local instancia
  for instancia in noticias limite; do
    ! activa "$instancia" || {
      echo "$instancia sigue activa tras quitar el paquete"
      return 1
    }
  done
  [ "$(propiedad_carrusel carrusel ActiveState)" != active ] || {
    echo "el carrusel sigue activo tras quitar el paquete"
    return 1
  }
  [ -f "$estado/noticias/.0001-0002-resto.partes" ] || {
    echo "la parada no dejo el registro de 0001-0002-resto"
    return 1
  }
}

purgar_conserva() {
  local n=$estado/noticias salida
  # what a receiver may leave behind, besides what the stop above left
  touch "$n/.0001-0002-resto.partes.nuevo" "$n/.0001-0002-resto.tmp.nuevo" "$n/.0001-0002-datos.pendiente"
  salida=$(dpkg --purge receptor-multicast 2>&1) || {
    echo "$salida"
    return 1
  }
  grep -qx "receptor-multicast: the received files stay in $estado" <<<"$salida" || {
    echo "la purga no dice donde quedan los ficheros: $salida"
    return 1
  }
  cmp "$originales/datos" "$n/0001-0002-datos" && cmp "$originales/parcial" "$n/0001-0002-parcial" &&
    [ -f "$n/entregas" ] || {
    echo "la purga se llevo ficheros recibidos"
    return 1
  }
  local restos
  restos=$(find "$n" -mindepth 1 ! -name 0001-0002-datos ! -name 0001-0002-parcial ! -name entregas)
  [ -z "$restos" ] || {
    echo "quedan: $restos"
    return 1
  }
  [ ! -e "$conf" ] || {
    echo "queda $conf"
    return 1
  }
  # limite keeps the file it received, and only that
  [ "$(ls -A "$estado/limite")" = 0001-0002-parcial ] && [ ! -e "$estado/sinpuerto" ] || {
    echo "quedan directorios vacios o restos: $(ls -A "$estado" "$estado/limite")"
    return 1
  }
  [ ! -L "/etc/systemd/system/multi-user.target.wants/$(unidad noticias)" ] || {
    echo "queda el enlace que habilitaba noticias"
    return 1
  }
  getent passwd receptor-multicast >/dev/null || {
    echo "la purga se llevo el usuario"
    return 1
  }
}

# The network as a service meets it, one instance per case, each on a port of its own: without
# -i, with -i by name and by address, and the same under a drop-in that takes netlink sockets
# away (the interfaces cannot be listed), as a stricter sandbox would.
declare -A puertos=([ruta]=5010 [nombre]=5011 [direccion]=5012 [sinlistaruta]=5013 [sinlistadir]=5014)
declare -A opciones=([ruta]="-w" [nombre]="-w -i lo" [direccion]="-w -i 127.0.0.1"
  [sinlistaruta]="-w" [sinlistadir]="-i 127.0.0.1")

sin_netlink() {
  mkdir -p "/etc/systemd/system/$(unidad "$1").d"
  printf '[Service]\nRestrictAddressFamilies=\nRestrictAddressFamilies=AF_INET AF_UNIX\n' \
    >"/etc/systemd/system/$(unidad "$1").d/sin-netlink.conf"
}

# Starts the instance, quiet, with its status file and the options given, and waits for its
# first line.
arrancar_con() {
  local instancia=$1 puerto=$2
  shift 2
  configurar "$instancia" "GRUPO=$grupo" "PUERTO=$puerto" MODO=2 \
    "OPCIONES=\"-q -e $estado/$instancia/estado.json $*\""
  systemctl start "$(unidad "$instancia")" || return 1
  esperar 10 en_diario "$instancia" "Recibiendo $grupo, puerto $puerto" || {
    echo "$instancia no dice que recibe: $(diario "$instancia" | tr '\n' ' ')"
    return 1
  }
}

instancias_reciben() {
  sin_netlink sinlistaruta
  sin_netlink sinlistadir
  systemctl daemon-reload
  local instancia fallos=0
  for instancia in "${!puertos[@]}"; do
    # shellcheck disable=SC2086 # the options split into words
    arrancar_con "$instancia" "${puertos[$instancia]}" ${opciones[$instancia]} &&
      enviar_hasta_completar "$instancia" datos "${puertos[$instancia]}" || fallos=1
  done
  return $fallos
}

unido_en_estado() {
  grep -qxF "  \"unido\": $2," "$estado/$1/estado.json" || {
    echo "$1: $(grep unido "$estado/$1/estado.json")"
    return 1
  }
}

# After the pause each instance still says it is joined, has told no change of its membership,
# and receives.
sigue_unida() {
  unido_en_estado "$1" true || return 1
  ! en_diario "$1" "Perdida la union" && ! en_diario "$1" "No se puede unir" || {
    echo "$1: $(diario "$1" | grep -E 'Perdida|No se puede' | tr '\n' ' ')"
    return 1
  }
  enviar_hasta_completar "$1" segundo "${puertos[$1]}"
}

siguen_unidas() {
  local instancia fallos=0
  for instancia in "${!puertos[@]}"; do
    sigue_unida "$instancia" || fallos=1
  done
  return $fallos
}

# A veth pair in the container's own network: the receiver joins on v1 (10.9.0.1), and emisor
# sends out of it, its datagrams looped back to the receivers of this host.
hacer_v1() {
  ip link add v1 type veth peer name v1p && ip addr add 10.9.0.1/24 dev v1 &&
    ip link set v1p up && ip link set v1 up
}

# Received over v1; v1 deleted: told lost, then waited for; made again: joined again, told, and
# received. With netlink, and without (-i by name needs no listing).
interfaz_rehecha() {
  local -A puerto=([interfaz]=5015 [sinlistainterfaz]=5016)
  local instancia
  hacer_v1 || return 1
  sin_netlink sinlistainterfaz
  systemctl daemon-reload
  for instancia in interfaz sinlistainterfaz; do
    arrancar_con "$instancia" "${puerto[$instancia]}" -w -i v1 &&
      enviar_hasta_completar "$instancia" datos "${puerto[$instancia]}" -i 10.9.0.1 || return 1
  done
  ip link del v1
  for instancia in interfaz sinlistainterfaz; do
    esperar 15 linea_en_diario "$instancia" \
      "No se puede unir al grupo $grupo en v1 todavia: No such device; se intenta cada segundo." &&
      linea_en_diario "$instancia" "Perdida la union a $grupo en v1." || {
      echo "$instancia no dice que perdio la union: $(diario "$instancia" | tr '\n' ' ')"
      return 1
    }
    esperar 3 unido_en_estado "$instancia" false || unido_en_estado "$instancia" false || return 1
  done
  hacer_v1 || return 1
  for instancia in interfaz sinlistainterfaz; do
    esperar 10 linea_en_diario "$instancia" "Unido a $grupo, puerto ${puerto[$instancia]}, en v1." || {
      echo "$instancia no dice que se unio de nuevo: $(diario "$instancia" | tr '\n' ' ')"
      return 1
    }
    enviar_hasta_completar "$instancia" segundo "${puerto[$instancia]}" -i 10.9.0.1 &&
      esperar 3 unido_en_estado "$instancia" true || unido_en_estado "$instancia" true || return 1
  done
}

# A veth pair for IPv6 in the container's network, where the loopback alone takes no IPv6
# multicast: duplicate address detection off, so that the addresses serve at once, and the
# groups routed through v6a, whose peer v6b sends.
hacer_v6() {
  local f
  for f in /proc/sys/net/ipv6/conf/*/accept_dad; do echo 0 >"$f"; done
  ip link add v6a type veth peer name v6b && ip addr add fd00::1/64 dev v6a nodad &&
    ip addr add fd00::2/64 dev v6b nodad && ip link set v6a up && ip link set v6b up &&
    ip -6 route add multicast ff00::/8 dev v6a table local metric 1
}

# GRUPO an IPv6 group: joined as routed, and by name for its one source, each instance says it
# receives the group as written, receives emisor's file over IPv6, and its status file says
# "unido": true.
recibe_ipv6() {
  local grupo=ff3e::5:6 instancia
  local -A puerto=([ipv6]=5017 [ipv6fuente]=5018)
  local -A opcion=([ipv6]="-w" [ipv6fuente]="-w -i v6a -s fd00::2")
  hacer_v6 || return 1
  for instancia in ipv6 ipv6fuente; do
    # shellcheck disable=SC2086 # the options split into words
    arrancar_con "$instancia" "${puerto[$instancia]}" ${opcion[$instancia]} &&
      enviar_hasta_completar "$instancia" datos "${puerto[$instancia]}" -i v6b &&
      esperar 3 unido_en_estado "$instancia" true || unido_en_estado "$instancia" true || return 1
  done
}

# The instances of the network's checks go, with their files: the checks below count the rest.
retirar_instancias_de_red() {
  local instancia
  for instancia in "${!puertos[@]}" interfaz sinlistainterfaz ipv6 ipv6fuente; do
    systemctl stop "$(unidad "$instancia")"
    rm -rf "${estado:?}/$instancia" "$conf/$instancia.conf" "/etc/systemd/system/$(unidad "$instancia").d"
  done
  systemctl daemon-reload
  ip link del v1 2>/dev/null || true
  ip link del v6a 2>/dev/null || true
}

# Starts the instance, quiet, with the options given and its status file where the unit keeps
# it, which the check reads, and waits until that file says it has joined the group.
arrancar_supervisada() {
  local instancia=$1 puerto_udp=$2
  shift 2
  configurar "$instancia" "GRUPO=$grupo" "PUERTO=$puerto_udp" MODO=2 "OPCIONES=\"-q $*\""
  systemctl start "$(unidad "$instancia")" || return 1
  esperar 10 grep -qxF '  "unido": true,' "$ejecucion/$instancia/estado.json" || {
    echo "$instancia no se une al grupo: $(diario "$instancia" | tr '\n' ' ')"
    return 1
  }
}

# A number of the status file of the instance, such as rechazados.
cifra_en_estado() {
  sed -n "s/^  \"$2\": \([0-9]*\),\$/\1/p" "$ejecucion/$1/estado.json"
}

# Type 0001, subtype 0002, part 1 of 1: the datagram's first 12 bytes, as printf's escapes.
cabecera_unica='\x00\x01\x00\x02\x00\x00\x00\x01\x00\x00\x00\x01'

# One datagram to the group on the port, part 1 of 1: the name, given with printf's escapes
# (\n, \x1b), padded with NULs to its 32 bytes, then some content.
datagrama_con_nombre() {
  local puerto_udp=$1 nombre=$2 crudo relleno='' bytes=$dir/datagrama
  printf -v crudo '%b' "$nombre"
  while [ "${#crudo}" -lt 32 ]; do
    crudo+=x
    relleno+='\x00'
  done
  printf '%b' "$cabecera_unica$nombre${relleno}hola" >"$bytes"
  # in one write: the shell's own output would go out as two datagrams, cut after the newline
  cat "$bytes" >"/dev/udp/$grupo/$puerto_udp"
}

# Names that would forge the journal, a newline and an error's priority, or make its line a blob,
# ESC and BEL: refused at warning, each control byte shown as '?', and nothing at error.
nombres_que_falsean_el_diario() {
  local rechazo=': Nombre con caracteres de control no permitido, descartado.' i linea avisos errores
  arrancar_supervisada avisos 5020 || return 1
  for i in 1 2 3; do
    datagrama_con_nombre 5020 'evil\n<3>FALLO DEL DISCO: sda'
    datagrama_con_nombre 5020 'tono\a\x1b[5mparpadeo\x7f'
    esperar 3 en_diario avisos "0001-0002-tono??[5mparpadeo?$rechazo" && break
  done
  # the journal's own view, which shows a message with control bytes as a blob
  avisos=$(journalctl -q --no-pager -p warning..warning -u "$(unidad avisos)")
  for linea in "0001-0002-evil?<3>FALLO DEL DISCO: sda$rechazo" "0001-0002-tono??[5mparpadeo?$rechazo"; do
    grep -qF -- "$linea" <<<"$avisos" || {
      echo "no hay un aviso '$linea' en: $avisos"
      return 1
    }
  done
  errores=$(journalctl -q --no-pager -p err -u "$(unidad avisos)")
  ! grep -qF 'FALLO DEL DISCO' <<<"$errores" || {
    echo "hay un error falso en el diario: $errores"
    return 1
  }
}

# 3000 datagrams at once, each of another name with '/': each is refused, the journal gains a few
# tens of lines at most and the status file counts the rest; a file sent meanwhile completes, the
# instance goes on and the check is not critical; at its stop, one line says what went untold.
# Whether the status file of the instance "avisos" counts lines left untold.
algo_sin_decir() {
  [ "$(cifra_en_estado avisos avisos_sin_decir)" -gt 0 ] 2>/dev/null
}

inundacion_con_freno() {
  local cursor inunda lineas visto relleno i
  cursor=$(journalctl -q --no-pager -n 1 --show-cursor -u "$(unidad avisos)" | sed -n 's/^-- cursor: //p')
  # 11 bytes of name, inunda/NNNN, and 21 NULs
  printf -v relleno '\\x00%.0s' {1..21}
  (
    exec {udp}>"/dev/udp/$grupo/5020"
    for ((i = 0; i < 3000; i++)); do
      # shellcheck disable=SC2059 # the header and the padding are escaped bytes
      printf "${cabecera_unica}inunda/%04d${relleno}hola" "$i" >&"$udp"
    done
  ) &
  inunda=$!
  enviar_hasta_completar avisos segundo 5020 || return 1
  wait "$inunda" || {
    echo "no se pudo enviar la inundacion"
    return 1
  }
  esperar 5 linea_en_diario avisos "0001-0002-segundo: Completado!" || {
    echo "el diario no dice que 0001-0002-segundo se completo"
    return 1
  }
  # lines still on their way to the journal
  sleep 1
  lineas=$(journalctl -q --no-pager -o cat -u "$(unidad avisos)" --after-cursor="$cursor")
  [ "$(wc -l <<<"$lineas")" -le 40 ] || {
    echo "el diario gano $(wc -l <<<"$lineas") lineas: $(head -n 50 <<<"$lineas" | tr '\n' ' ')"
    return 1
  }
  # the status file is rewritten about once a second: a busy machine may be a little late
  esperar 5 algo_sin_decir || {
    echo "nada quedo sin decir: rechazados $(cifra_en_estado avisos rechazados), avisos sin decir $(cifra_en_estado avisos avisos_sin_decir)"
    return 1
  }
  echo "nota: la inundacion de 3000 datagramas dejo $(wc -l <<<"$lineas") lineas en el diario; rechazados $(cifra_en_estado avisos rechazados), avisos sin decir $(cifra_en_estado avisos avisos_sin_decir)" >>"$resultados"
  visto=$(comprobar_estado avisos)
  [[ $visto == [01]" RECEPTOR "* ]] && activa avisos && [ "$(propiedad avisos NRestarts)" = 0 ] || {
    echo "tras la inundacion: $(propiedad avisos ActiveState), $(propiedad avisos NRestarts) reinicios; el comprobador dice: $visto"
    return 1
  }
  systemctl stop "$(unidad avisos)"
  esperar 5 dice_lo_callado || {
    echo "al parar no dice lo que quedo sin decir: $(diario avisos | tail -n 5 | tr '\n' ' ')"
    return 1
  }
}

# True while the check says that the instance's file cannot be saved for want of room: a
# warning, or critical when nothing can progress.
sin_sitio_para_guardar() {
  local visto
  visto=$(comprobar_estado "$1")
  [[ $visto == [12]" RECEPTOR "*"fallo al guardar 0001-0002-$2 "*"No space left on device"* ]]
}

# The instance's directory on a small filesystem of its own, mounted before the start (the unit
# binds it as it finds it), with 64 KiB left: a file larger than that fails, the check says so;
# with room again the file completes, the journal says it saves again, and the check is OK.
disco_lleno() {
  local dir_instancia=$estado/lleno relleno=$estado/lleno/relleno
  mkdir -p "$dir_instancia"
  mount -t tmpfs -o "size=512k,mode=0750,uid=$(id -u receptor-multicast),gid=$(id -g receptor-multicast)" \
    tmpfs "$dir_instancia" || return 1
  head -c 1M /dev/zero >"$relleno" 2>/dev/null || true
  truncate -s -64K "$relleno"
  arrancar_supervisada lleno 5021 || return 1
  (cd "$originales" && emisor "$grupo" 5021 datos 2>/dev/null) || true
  esperar 10 sin_sitio_para_guardar lleno datos || {
    echo "sin sitio, el comprobador dice: $(comprobar_estado lleno)"
    return 1
  }
  echo "nota: sin sitio en el disco, el comprobador dice: $(comprobar_estado lleno)" >>"$resultados"
  rm "$relleno"
  enviar_hasta_completar lleno datos 5021 || return 1
  esperar 5 linea_en_diario lleno "0001-0002-datos: Guardado sin errores de nuevo." || {
    echo "el diario no dice que se guarda de nuevo: $(diario lleno | tr '\n' ' ')"
    return 1
  }
  esperar_veredicto 5 0 "RECEPTOR OK - unido al grupo" lleno
}

# With -r, a receiver stopped (SIGSTOP) in the middle of a file is restarted by its watchdog and
# resumes the file from its record; once the file is complete, the check says OK every time and
# nothing is listed as left over.
perro_guardian_a_medias() {
  local pid registro=$estado/guardado/.0001-0002-parcial.partes i visto
  arrancar_supervisada guardado 5022 -w -r && enviar_a_medias guardado parcial 5022 || return 1
  # written every 5 s while a file is in progress
  esperar 7 test -f "$registro" || {
    echo "no aparece $registro"
    return 1
  }
  pid=$(propiedad guardado MainPID)
  systemctl kill -s SIGSTOP --kill-whom=main "$(unidad guardado)"
  esperar 25 reiniciada guardado && esperar 10 activa guardado && [ "$(propiedad guardado MainPID)" != "$pid" ] || {
    echo "parada, el perro guardian no la reinicia: $(propiedad guardado ActiveState)"
    return 1
  }
  enviar_hasta_completar guardado parcial 5022 || return 1
  en_diario guardado "0001-0002-parcial: Reanudado con " || {
    echo "el diario no dice Reanudado: $(diario guardado | tr '\n' ' ')"
    return 1
  }
  # the status file written after the file completed
  esperar 3 grep -qxF '  "completados": 1,' "$ejecucion/guardado/estado.json" || {
    echo "el fichero de estado no cuenta el fichero completado"
    return 1
  }
  for i in 1 2 3 4 5 6; do
    visto=$(comprobar_estado guardado)
    [[ $visto == "0 RECEPTOR OK - "* ]] || {
      echo "completado el fichero, el comprobador dice: $visto"
      return 1
    }
    sleep 0.5
  done
  grep -qxF '  "restos": []' "$ejecucion/guardado/estado.json" || {
    echo "el fichero de estado lista restos: $(sed -n '/"restos"/,$p' "$ejecucion/guardado/estado.json" | tr '\n' ' ')"
    return 1
  }
}

# Half a file to an instance with -r, -f 4 and --caducar 20s, then nothing; run in the
# background before the watchdog's check, so that the 20 s pass meanwhile.
abandonar_a_medias() {
  arrancar_supervisada caduca 5023 -r -f 4 --caducar 20s && enviar_a_medias caduca segundo 5023
}

# The abandoned file is dropped 20 to 30 s after its last part (looked at every 10 s, in a loop
# that turns once a second at least, and told in whole seconds), told once, its temporary file and
# record gone, and the instance goes on.
caduca_el_abandonado() {
  local linea segundos
  [ "$abandonado_estado" -eq 0 ] || {
    cat "$dir/abandonado"
    return 1
  }
  esperar 35 en_diario caduca "0001-0002-segundo: Caducado con " || {
    echo "el diario no dice Caducado: $(diario caduca | tr '\n' ' ')"
    return 1
  }
  sleep 1
  linea=$(diario caduca | grep -F "0001-0002-segundo: Caducado")
  segundos=$(sed -n 's/^0001-0002-segundo: Caducado con [0-9]* de [0-9]* partes, sin cambios en \([0-9]*\) s\.$/\1/p' <<<"$linea")
  [ "$(wc -l <<<"$linea")" -eq 1 ] && [ -n "$segundos" ] && [ "$segundos" -ge 20 ] && [ "$segundos" -le 32 ] || {
    echo "el diario dice: $linea"
    return 1
  }
  [ ! -e "$estado/caduca/0001-0002-segundo.tmp" ] && [ ! -e "$estado/caduca/.0001-0002-segundo.partes" ] || {
    echo "quedan: $(ls -A "$estado/caduca" | tr '\n' ' ')"
    return 1
  }
  activa caduca && [ "$(propiedad caduca NRestarts)" = 0 ] || {
    echo "la instancia no sigue: $(propiedad caduca ActiveState), $(propiedad caduca NRestarts) reinicios"
    return 1
  }
  grep -qxF '  "en_curso": [],' "$ejecucion/caduca/estado.json" || {
    echo "el fichero de estado aun lo tiene: $(tr '\n' ' ' <"$ejecucion/caduca/estado.json")"
    return 1
  }
}

# The instances of the checks above go, with their files and the small filesystem.
retirar_instancias_de_avisos() {
  local instancia
  for instancia in avisos lleno guardado caduca; do
    systemctl stop "$(unidad "$instancia")"
    ! mountpoint -q "$estado/$instancia" || umount "$estado/$instancia"
    rm -rf "${estado:?}/$instancia" "$conf/$instancia.conf"
  done
}

# The tests that debian/tests/control lists, as autopkgtest runs them on the package installed
# (here the container is the testbed: it cannot install what is missing): each from the root of
# the source tree, with AUTOPKGTEST_TMP and AUTOPKGTEST_ARTIFACTS fresh directories, failed by a
# status other than 0 or, without allow-stderr, by anything on standard error. Their output stays
# in <dir>/autopkgtest-<prueba>.{salida,error}; what a test that passes printed goes among the
# results as notes.
pruebas_de_debian() {
  local fuente=$dir/fuente control=$dir/fuente/debian/tests/control fallos=0
  local pruebas dependencias restricciones prueba paquete alternativa hay tmp artefactos log estado
  [ -f "$control" ] || {
    echo "no existe $control"
    return 1
  }
  # one line a paragraph, its fields joined over continuation lines and without versions,
  # architectures or profiles: Tests;Depends;Restrictions
  while IFS=';' read -r pruebas dependencias restricciones; do
    restricciones=" ${restricciones//,/ } "
    [ -n "$pruebas" ] || {
      echo "un parrafo de $control sin Tests: (Test-Command no se ejecuta aqui)"
      fallos=1
      continue
    }
    for paquete in ${dependencias//,/ }; do
      [ "$paquete" != @ ] || paquete=receptor-multicast
      hay=0
      for alternativa in ${paquete//|/ }; do
        [ "$(dpkg-query -W -f='${Status}' "$alternativa" 2>/dev/null)" != "install ok installed" ] || hay=1
      done
      [ "$hay" -eq 1 ] || {
        echo "$pruebas: falta $paquete, que pide su Depends, y aqui no se instala nada"
        fallos=1
      }
    done
    [[ $restricciones != *" isolation-machine "* ]] || {
      echo "$pruebas: pide isolation-machine, que este contenedor no da"
      fallos=1
      continue
    }
    for prueba in $pruebas; do
      tmp=$(mktemp -d /tmp/autopkgtest-tmp.XXXXXX)
      artefactos=$(mktemp -d /tmp/autopkgtest-artefactos.XXXXXX)
      log=$dir/autopkgtest-$prueba
      estado=0
      (cd "$fuente" && AUTOPKGTEST_TMP=$tmp AUTOPKGTEST_ARTIFACTS=$artefactos timeout 120 "debian/tests/$prueba") \
        >"$log.salida" 2>"$log.error" </dev/null || estado=$?
      rm -rf "$tmp" "$artefactos"
      if [ "$estado" -ne 0 ] || { [ -s "$log.error" ] && [[ $restricciones != *" allow-stderr "* ]]; }; then
        echo "debian/tests/$prueba termino con $estado; su salida de error: $(tail -n 20 "$log.error")" \
          "; su salida: $(tail -n 10 "$log.salida")"
        fallos=1
      else
        sed "s|^|nota: debian/tests/$prueba: |" "$log.salida" >>"$resultados"
      fi
    done
  done < <(awk 'BEGIN { RS = ""; FS = "\n" }
    {
      split("", campo); clave = ""; campos = 0
      for (i = 1; i <= NF; i++) {
        if ($i ~ /^#/) continue
        if ($i ~ /^[ \t]/ && clave != "") { campo[clave] = campo[clave] " " $i; continue }
        n = index($i, ":"); if (n == 0) continue
        clave = tolower(substr($i, 1, n - 1)); campo[clave] = substr($i, n + 1); campos++
      }
      if (campos == 0) next
      linea = campo["tests"] ";" campo["depends"] ";" campo["restrictions"]
      gsub(/[ \t]+/, " ", linea); gsub(/ *\| */, "|", linea); gsub(/ *; */, ";", linea); gsub(/ *, */, ",", linea)
      gsub(/ *(\([^)]*\)|\[[^]]*\]|<[^>]*>)/, "", linea); gsub(/^ +| +$/, "", linea); print linea
    }' "$control")
  return $fallos
}

mkdir -p "$originales"
head -c 300000 /dev/urandom >"$originales/datos"
head -c 2000000 /dev/urandom >"$originales/parcial"
head -c 2000000 /dev/urandom >"$originales/resto"
head -c 50000 /dev/urandom >"$originales/segundo"
chmod 644 "$originales"/*

comprobar "solo el loopback, con la ruta multicast" red_privada
if grep -q '^FALLO' "$resultados"; then
  echo fin >>"$resultados"
  exit 1
fi
comprobar "el paquete se instala y crea el usuario de sistema" instalar
comprobar "las pruebas de debian/tests, como autopkgtest, con el paquete instalado" pruebas_de_debian
preparar_programa
comprobar "una instancia recibe un fichero de emisor: del usuario del servicio, 0640 en un directorio 0750" recibe_fichero
comprobar "un miembro del grupo del servicio lee el fichero, otro usuario no" legible_por_el_grupo
comprobar "el programa de -x corre en el entorno aislado, como el usuario del servicio" programa_aislado
comprobar "el programa de -x de una instancia no alcanza los directorios ni los ficheros de otra, ni /run/lock; los suyos si" muros_entre_instancias
comprobar "sin PUERTO la instancia se para sin reinicios y el diario dice por que" sin_puerto_se_para
comprobar "un datagrama de mas de 50000 partes con un fichero en curso: se rechaza, sin reinicio, y el fichero se completa" \
  excesivo_no_para
comprobar "el diario nombra client al receptor y da a cada linea su prioridad" diario_con_prioridades
comprobar "systemd sabe su estado y, parado el receptor (SIGSTOP), su perro guardian lo reinicia" \
  vigilada_por_systemd
comprobar "el fichero de estado esta en /run, 0644 en un directorio 0755, y el comprobador lo lee sin el grupo" estado_legible
comprobar "un carrusel envia un fichero a una instancia, con un usuario hecho para el arranque" carrusel_envia
comprobar "un carrusel sin FICHEROS, o con un fichero que solo root lee, se para sin reinicios y el diario dice por que" carrusel_erroneo
comprobar "CLAVES: sin firma no se completa y se dice una vez; un carrusel con FIRMA y FEC lo completa" carrusel_firmado
comprobar "el comprobador: 0 mientras llegan datagramas, 2 con el receptor detenido, 0 de nuevo, 2 sordo tras el silencio" veredictos_del_comprobador
exposicion
systemctl start "$(carrusel carrusel)"
comprobar "systemctl stop con -r deja el registro y el siguiente arranque reanuda" parada_y_reanudacion
comprobar "sin -i, con -i lo, con -i 127.0.0.1, y sin netlink sin -i y con -i 127.0.0.1: cada instancia recibe" \
  instancias_reciben
# longer than the 5 s of quiet after which a receiver renews its membership
sleep 7
comprobar "tras una pausa de 7 s siguen unidas (\"unido\": true), no dicen nada de su union, y reciben" \
  siguen_unidas
comprobar "una interfaz borrada se dice perdida y, hecha de nuevo, se une y recibe; con netlink y sin el" \
  interfaz_rehecha
comprobar "GRUPO=ff3e::5:6: la instancia se une por IPv6, por la ruta y por nombre con -s, y recibe de emisor" \
  recibe_ipv6
retirar_instancias_de_red
comprobar "nombres con un salto de linea y prioridad de error, o con ESC y BEL: avisos con '?', y ningun error falso en el diario" \
  nombres_que_falsean_el_diario
comprobar "3000 datagramas rechazados de golpe: pocas lineas en el diario, el resto contado, y un fichero enviado a la vez se completa" \
  inundacion_con_freno
comprobar "disco lleno bajo la instancia: el comprobador avisa del fallo; con sitio, el fichero se completa, se dice y vuelve el OK" \
  disco_lleno
abandonar_a_medias >"$dir/abandonado" 2>&1 &
abandonado=$!
comprobar "con -r, el perro guardian reinicia un receptor parado a medias de un fichero: se reanuda, se completa y el comprobador dice OK sin restos" \
  perro_guardian_a_medias
abandonado_estado=0
wait "$abandonado" || abandonado_estado=$?
comprobar "con -f 4 --caducar 20s, un fichero abandonado a medias se borra con su registro entre 20 y 30 s despues, se dice una vez, y la instancia sigue" \
  caduca_el_abandonado
retirar_instancias_de_avisos
comprobar "instalar el paquete de nuevo reinicia las instancias en marcha" reinstalar_reinicia
comprobar "quitar el paquete para las instancias" quitar_para
comprobar "la purga conserva los ficheros recibidos y el usuario, y quita la configuracion y los restos" purgar_conserva

if grep -q '^FALLO' "$resultados"; then
  journalctl -b --no-pager >"$dir/diario" 2>&1 || true
fi
echo fin >>"$resultados"
