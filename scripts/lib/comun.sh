# Shared by the scripts: dependencies, the build, and the private network namespace.
# Sourced, not run.

# Installs the Debian packages given that are missing, when run as root; otherwise says which.
# Another run installing at the same time is waited for, not failed.
instalar_paquetes() {
  local faltan=()
  for paquete in "$@"; do
    dpkg -s "$paquete" >/dev/null 2>&1 || faltan+=("$paquete")
  done
  [ ${#faltan[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq -o DPkg::Lock::Timeout=600 &&
      apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 "${faltan[@]}" >/dev/null
  else
    echo "Faltan paquetes: ${faltan[*]} (instalalos como root con apt-get)" >&2
    return 1
  fi
}

# Installs what debian/control names for building the package, when run as root; otherwise says
# what is missing.
instalar_dependencias_de_compilacion() {
  local faltan
  instalar_paquetes dpkg-dev
  faltan=$(dpkg-checkbuilddeps 2>&1) && return 0
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq && apt-get build-dep -y -qq ./ >/dev/null
  else
    echo "$faltan (instalalas como root con apt-get build-dep ./)" >&2
    return 1
  fi
}

# Configures and builds into the directory given, with any further cmake options.
compilar() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" >/dev/null
}

# Runs a command inside a private network namespace: only the loopback, up, with multicast on
# and a route for 224.0.0.0/4 through it. Refuses when any other interface is visible.
en_red_privada() {
  local preparar='
    ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo || exit 1
    for i in $(ip -o link show | awk -F": " "{print \$2}"); do
      if [ "$i" != lo ]; then
        echo "Se ve la interfaz $i: no se envia nada fuera de una red privada" >&2
        exit 1
      fi
    done
    exec "$@"'
  local opcion=-n
  [ "$(id -u)" -eq 0 ] || opcion=-rn
  unshare "$opcion" bash -c "$preparar" en_red_privada "$@"
}
