#!/usr/bin/env python3
"""Delay from a datagram's send to its summary line read on a pipe.

Starts the receiver given with its standard output on a pipe, in a fresh directory, waits until
it has joined the group, then sends one datagram every interval (each a part of one file that
never completes) and reads the pipe meanwhile. Both instants come from the monotonic clock: the
one just before the send, and the one when the read that brought the part's summary line
returned. Prints one line of key=value pairs, delays in milliseconds.

bench/demora.py <client> <group> <port> <mode> [datagrams] [interval in ms]
Run it inside the private network namespace, as scripts/bench does.
"""
import math
import os
import re
import select
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

TAM_PARTE = 1456            # content bytes of every part, as the benchmark's file has
TOTAL = 1000                # parts announced: more than are sent, so no file completes
NOMBRE = b"demora"
TIPO, SUBTIPO = 1, 2
ESPERA_UNION_S = 5          # for the receiver to join the group
ESPERA_FINAL_S = 0.5        # after the last send, for its line


def cabecera(parte):
    """The 44-byte header of the part given (counted from 1), big-endian as on the wire."""
    return struct.pack(">HHII32s", TIPO, SUBTIPO, parte, TOTAL, NOMBRE)


def unido(grupo):
    """Whether some socket has joined the group on the loopback, from /proc/net/igmp."""
    buscado = "%08X" % int.from_bytes(socket.inet_aton(grupo), sys.byteorder)
    dispositivo = None
    with open("/proc/net/igmp") as igmp:
        for linea in igmp:
            campos = linea.split()
            if not campos:
                continue
            if not linea[0].isspace() and len(campos) > 1 and campos[0].isdigit():
                dispositivo = campos[1]
            elif dispositivo == "lo" and campos[0] == buscado:
                return True
    return False


class Lector:
    """The receiver's standard output, line by line, each line with the instant it was read."""

    def __init__(self, fd):
        self.fd = fd
        self.resto = b""
        self.cerrado = False

    def leer_hasta(self, limite, al_leer):
        """Reads until the monotonic instant limite (seconds), calling al_leer(line, ns)."""
        while not self.cerrado:
            quedan = limite - time.monotonic()
            if quedan <= 0:
                return
            listos, _, _ = select.select([self.fd], [], [], quedan)
            if not listos:
                return
            datos = os.read(self.fd, 1 << 16)
            instante = time.monotonic_ns()
            if not datos:
                self.cerrado = True
                return
            *lineas, self.resto = (self.resto + datos).split(b"\n")
            for linea in lineas:
                al_leer(linea, instante)


def percentil(valores, p):
    """The nearest-rank percentile p (0-100) of valores."""
    ordenados = sorted(valores)
    return ordenados[max(0, math.ceil(p / 100 * len(ordenados)) - 1)]


def medir(orden, grupo, puerto, n, intervalo_s):
    """Runs the receiver, sends n parts, returns the delays in ms of the parts seen."""
    directorio = tempfile.mkdtemp(prefix="demora.")
    receptor = subprocess.Popen(orden, cwd=directorio, stdout=subprocess.PIPE,
                                stdin=subprocess.DEVNULL)
    enviados = {}
    demoras = {}
    patron = re.compile(rb"\|Nom:" + NOMBRE + rb"\|(\d+)/")

    def al_leer(linea, instante):
        m = patron.search(linea)
        if m:
            parte = int(m.group(1)) + 1
            if parte in enviados and parte not in demoras:
                demoras[parte] = (instante - enviados[parte]) / 1e6

    try:
        limite = time.monotonic() + ESPERA_UNION_S
        while not unido(grupo):
            if time.monotonic() > limite or receptor.poll() is not None:
                raise SystemExit("El receptor no se unio al grupo")
            time.sleep(0.01)
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
        contenido = os.urandom(TAM_PARTE)
        lector = Lector(receptor.stdout.fileno())
        siguiente = time.monotonic() + intervalo_s
        for parte in range(1, n + 1):
            lector.leer_hasta(siguiente, al_leer)
            datagrama = cabecera(parte) + contenido
            enviados[parte] = time.monotonic_ns()
            sock.sendto(datagrama, (grupo, puerto))
            siguiente += intervalo_s
        lector.leer_hasta(time.monotonic() + ESPERA_FINAL_S, al_leer)
        sock.close()
    finally:
        receptor.terminate()
        try:
            receptor.wait(5)
        except subprocess.TimeoutExpired:
            receptor.kill()
            receptor.wait()
        shutil.rmtree(directorio, ignore_errors=True)
    return list(demoras.values())


def main():
    if len(sys.argv) < 5:
        sys.exit("Uso: demora.py <client> <grupo> <puerto> <modo> [datagramas] [intervalo_ms]")
    cliente, grupo, puerto, modo = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    n = int(sys.argv[5]) if len(sys.argv) > 5 else 60
    intervalo_s = (float(sys.argv[6]) if len(sys.argv) > 6 else 50) / 1000
    demoras = medir([cliente, grupo, str(puerto), modo], grupo, puerto, n, intervalo_s)
    if not demoras:
        print(f"datagramas={n} vistas=0 mediana_ms=nan p90_ms=nan p99_ms=nan min_ms=nan "
              f"max_ms=nan")
        return
    print(f"datagramas={n} vistas={len(demoras)} mediana_ms={statistics.median(demoras):.3f} "
          f"p90_ms={percentil(demoras, 90):.3f} p99_ms={percentil(demoras, 99):.3f} "
          f"min_ms={min(demoras):.3f} max_ms={max(demoras):.3f}")


if __name__ == "__main__":
    main()
