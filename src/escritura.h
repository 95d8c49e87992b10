// The write buffer of a file in progress: new parts gather in memory and go to the temporary
// file in large writes that start on a page, instead of one write per part.
#ifndef ESCRITURA_H
#define ESCRITURA_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ficheros.h"

inline constexpr int64_t kTamPagina = 4096;
/// Bytes of one buffer: whole pages.
inline constexpr int64_t kTamBuffer = 32 * kTamPagina;
/// Most files holding a buffer at once, however many are in progress.
inline constexpr int kMaxBuffers = 32;

/// Copies a new part into its file's buffer. A part that falls outside the buffer's window
/// first writes out what it holds; a buffer is taken from the least recently touched file
/// when kMaxBuffers are in use. Failed writes are handled as in VolcarBuffer.
void GuardarEnBuffer(AlmacenFicheros &almacen, FicheroEnCurso &fichero, int32_t indice,
                     int64_t posicion, const unsigned char *datos, int32_t largo, FILE *salida);

/// Writes out every part the buffer holds. Parts whose write fails are missing again (kFallida,
/// counted in faltan) and the error is reported once per file and error.
void VolcarBuffer(AlmacenFicheros &almacen, FicheroEnCurso &fichero, FILE *salida);

/// Gives the buffer's memory back, without writing what it holds.
void SoltarBuffer(AlmacenFicheros &almacen, FicheroEnCurso &fichero);

/// The bytes of a part that the buffer holds, or nullptr when it holds none of that index.
const unsigned char *ParteRetenida(const FicheroEnCurso &fichero, int32_t indice);

/// Writes all the bytes at posicion, whatever a single call leaves; false, with errno, when the
/// disk refuses, with hechos (when given) set to the bytes written before it did.
bool GrabarCompleto(int fd, const unsigned char *datos, std::size_t largo, int64_t posicion,
                    std::size_t *hechos = nullptr);

#endif
