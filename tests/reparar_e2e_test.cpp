// Repairs with the built programs: the receiver completes a file whose lost parts its repair
// datagrams rebuild, each told as repaired, leaving alone repair datagrams damaged or of another
// file; and the sender's --fec completes a lossy send in one pass.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "borrado.h"
#include "e2e.h"
#include "lateral.h"
#include "reparacion.h"

namespace {

class Reparar : public E2E {
 protected:
  Destino Lateral() const { return {destino.grupo, static_cast<uint16_t>(destino.puerto + 1)}; }
};

constexpr int kTam = 100;

// Row fila of a block of the file, as a sender codes it, in its datagram.
std::string Fila(std::string contenido, const FicheroDescrito &f, const Codigo &c, int32_t bloque,
                 int fila) {
  contenido.resize(f.totpartes * kTam + kTam);  // zeros after the last part, and for no part
  unsigned char *datos[kMaxFilasCodigo], *filas[kMaxFilasCodigo];
  for (int pos = 0; pos < c.k; ++pos) {
    int32_t parte = ParteDelBloque(f.totpartes, c, bloque, pos);
    datos[pos] =
        reinterpret_cast<unsigned char *>(&contenido[(parte < 0 ? f.totpartes : parte) * kTam]);
  }
  std::string salidas(c.m * kTam, '\0'), datagrama(kTamMaxPaquete, '\0');
  for (int j = 0; j < c.m; ++j) filas[j] = reinterpret_cast<unsigned char *>(&salidas[j * kTam]);
  CodigoBorrado codigo;
  PrepararCodigo(codigo, c.k, c.m);
  CodificarBloque(codigo, datos, filas, kTam);
  auto *destino = reinterpret_cast<unsigned char *>(datagrama.data());
  datagrama.resize(CodificarReparacion(f, c, bloque, fila, filas[fila], destino));
  return datagrama;
}

// 10 parts of 100 bytes, the last of 37, in blocks {0,3,6,9}, {1,4,7}, {2,5,8}: 3, 6 and 5
// lost; the rows that came before them, damaged or of another layout or file change nothing,
// without --clave too.
TEST_F(Reparar, PartesPerdidasSeReparan) {
  const std::string contenido = ContenidoAleatorio(937, 3);
  const FicheroDescrito f{1, 2, "datos", 10, kTam, 937, 0};
  const Codigo c{4, 2, 16};
  ASSERT_NO_FATAL_FAILURE(Arrancar({"--reparar"}));
  ASSERT_TRUE(EsperarUnion(destino, 5, 2));
  std::string esperado;
  int faltan = 0;
  for (int parte : {0, 1, 2, 4, 7, 8, 9}) {
    int largo = parte == 9 ? 37 : kTam;
    Enviar(destino, Datagrama(1, 2, parte + 1, 10, "datos", contenido.substr(parte * kTam, largo)));
    esperado += Resumen("0001", "0002", "datos", parte, 10, kTam, faltan);
    if (parte == 0) esperado += "TotPart:10|MaxTAMprt:100|TAMprt:1000\n";
    esperado += "NO LA TENGO,posicion " + std::to_string(parte * kTam) + "...." +
                std::to_string(largo) + " bytes...\n";
    faltan = faltan == 0 ? 9 : faltan - 1;
    ASSERT_TRUE(LeerHastaTexto(cliente, esperado, 5)) << cliente.salida;
  }
  FicheroDescrito otro = f, otra = f;  // another file; another layout
  otro.nombre = "otro", otra.totpartes = 11, otra.largo = 1037;
  // cut, one byte longer, a byte of its row changed, told as another row, or another block
  std::string cortada = Fila(contenido, f, c, 0, 0), danada = cortada, otra_fila = cortada,
              otro_bloque = Fila(contenido, f, c, 1, 0);
  danada[danada.size() - 5] ^= 1, otra_fila[34] = 1, otro_bloque[33] = 0;
  for (const std::string &nada :
       {Fila(contenido, otro, c, 0, 0), Fila(contenido, otra, c, 0, 0),
        cortada.substr(0, cortada.size() - 1), cortada + "x", danada, otra_fila, otro_bloque})
    Enviar(Lateral(), nada);
  for (int fila : {0, 0, 1}) Enviar(Lateral(), Fila(contenido, f, c, 0, fila));
  esperado +=
      "REPARADA,en posicion 300....100 bytes...\nREPARADA,en posicion 600....100 bytes...\n";
  ASSERT_TRUE(LeerHastaTexto(cliente, esperado, 5)) << cliente.salida;
  Enviar(Lateral(), Fila(contenido, f, c, 2, 1));
  esperado += "REPARADA,en posicion 500....100 bytes...\nCompletado!\n";
  ASSERT_TRUE(LeerHastaTexto(cliente, esperado, 5)) << cliente.salida;
  Enviar(Lateral(), Fila(contenido, f, c, 1, 0));
  Escuchar(cliente, 0.3);
  EXPECT_EQ(cliente.salida, esperado);
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-datos"), contenido);
}

// One send with one datagram in ten left out, quiet: complete in one pass with --fec and
// --reparar, equal to its source.
TEST_F(Reparar, EmisorConFecCompletaEnUnaPasada) {
  const std::string ruta = aparte + "/datos", contenido = ContenidoAleatorio(200000, 5);
  std::ofstream(ruta) << contenido;
  ASSERT_NO_FATAL_FAILURE(Arrancar({"-q", "--reparar"}));
  ASSERT_TRUE(EsperarUnion(destino, 5, 2));
  Proceso emisor =
      Lanzar({EMISOR_PATH, "-i", "127.0.0.1", "-r", "20000", "--perdida", "10%", "--semilla", "1",
              "--fec", "16:4", destino.grupo, std::to_string(destino.puerto), ruta});
  EXPECT_EQ(EsperarFin(emisor), 0) << emisor.error;
  EXPECT_TRUE(LeerHastaTexto(cliente, "Completado!\n", 5)) << cliente.salida;
  Escuchar(cliente, 0.2);
  EXPECT_EQ(cliente.salida, Inicio() + "0001-0002-datos: Empezado con 141 partes de 1428 bytes.\n" +
                                "0001-0002-datos: Completado!\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-datos"), contenido);
}

}  // namespace
