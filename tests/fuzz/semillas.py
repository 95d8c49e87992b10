#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_paquete: small valid transfers, in each mode."""
import pathlib
import struct

TRUNCADO = 0x8000
CONTENIDO = 16  # bytes of content per part but the last


def datagrama(parte, total, nombre, contenido, tipo=b"\x12\xab", subtipo=b"\x00\x07"):
    # header: type, subtype, part (from 1), part count, 32-byte name; big-endian numbers
    cabecera = tipo + subtipo + struct.pack(">ii", parte, total) + nombre.ljust(32, b"\0")
    return cabecera + contenido


def partes(nombre, total, ultima=5):
    datos = {}
    for parte in range(1, total + 1):
        largo = ultima if parte == total else CONTENIDO
        datos[parte] = datagrama(parte, total, nombre, bytes([0x40 + parte]) * largo)
    return datos


def entrada(modo, datagramas, truncados=()):
    salida = bytearray([modo])
    for i, d in enumerate(datagramas):
        marca = TRUNCADO if i in truncados else 0
        salida += struct.pack(">H", len(d) | marca) + d
    return bytes(salida)


def casos():
    tres = partes(b"tres.bin", 3)
    una = partes(b"una.txt", 1)
    yield "tres_partes", [tres[1], tres[2], tres[3]], ()
    yield "una_parte", [una[1]], ()
    # the last part first: placed before the part size is known, put right at the end
    yield "desordenado", [tres[3], tres[1], tres[2]], ()
    # a short datagram after a whole one reads what that one left
    yield "corto", [tres[1], b"\x12\xab\x00\x07\x00\x00\x00\x02xyz", tres[2], tres[3]], ()
    # repeated parts, a truncated one, then a second file
    yield "repetido", [tres[1], tres[1], tres[2], una[1], tres[2]], (1,)


def main():
    destino = pathlib.Path(__file__).resolve().parent / "corpus"
    destino.mkdir(exist_ok=True)
    for modo in range(3):
        for nombre, datagramas, truncados in casos():
            (destino / f"modo{modo}_{nombre}").write_bytes(entrada(modo, datagramas, truncados))


if __name__ == "__main__":
    main()
