// The pass that every datagram takes, one after another through a batch: its summary line, its
// dump or its store.
#ifndef PASO_H
#define PASO_H

#include <cstdint>
#include <cstdio>

#include "bucle.h"
#include "entrada.h"
#include "ficheros.h"

/// The whole pass of one datagram: decoding, the part-count limit, the part size, the summary
/// line, the identity, then the dump (mode 0) or the file store (mode 2). A count over
/// almacen.opciones.max_partes asks the run to end (bucle.excedido), which the loop does;
/// quiet, the datagram is refused instead and the receiver goes on.
void ProcesarPaquete(const Paquete &paquete, Bucle &bucle, DatagramaActual &actual,
                     AlmacenFicheros &almacen, FILE *salida);

/// The pass over the datagrams of the receptor's current batch, one after another, each exactly
/// as if it had come alone, up to one that asks the run to end. Ends the batch.
void ProcesarLote(Receptor &receptor, Bucle &bucle, DatagramaActual &actual,
                  AlmacenFicheros &almacen, FILE *salida);

/// "El total de partes (N) EXCEDE al MAX_TROZOS (limite) ...": why the run ends over a part
/// count.
void DecirLimiteExcedido(int32_t totpartes, int32_t limite, FILE *salida);

#endif
