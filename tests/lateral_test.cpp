// The side channel's descriptions, built in memory: what decodes and verifies, what a forger or
// a damaged datagram gets, and the table's verdicts on parts and on a file's completion.
#include "lateral.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <string>
#include <vector>

#include "firmas.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Clave {
  ClavePublica publica;
  ClaveSecreta secreta;
  Clave() {
    PrepararLateral();
    crypto_sign_keypair(publica.data(), secreta.data());
  }
};

// A description of parts primera.. of f, whose contents are each the part's number in every byte.
Bytes Describir(const FicheroDescrito &f, int32_t primera, int32_t cuantos, const Clave &clave) {
  Bytes todos(static_cast<std::size_t>(f.totpartes) * kTamResumen), datagrama(kTamMaxLateral);
  for (int32_t i = 0; i < f.totpartes; ++i) {
    Bytes parte(i < f.totpartes - 1 ? f.tamparte : f.largo - int64_t{i} * f.tamparte, char(i));
    ResumirParte(parte.data(), parte.size(), &todos[i * kTamResumen]);
  }
  datagrama.resize(CodificarDescripcion(f, primera, cuantos, &todos[primera * kTamResumen],
                                        clave.secreta.data(), datagrama.data()));
  return datagrama;
}

bool Verifica(const Bytes &datagrama, const ClavePublica &publica) {
  Descripcion d;
  return DecodificarDescripcion(datagrama.data(), datagrama.size(), d) &&
         FirmaValida(d, publica.data());
}

const FicheroDescrito kDoc{1, 2, "doc", 200, 1428, 199 * 1428 + 7, 5};

// Whole, it decodes as written and verifies with its key alone; cut anywhere, grown by a byte or
// with any bit changed, it never passes.
TEST(Descripcion, SoloPasaEnteraYConSuClave) {
  Clave clave, otra;
  int32_t por = ResumenesPorDatagrama(kDoc.nombre.size());
  Bytes bueno = Describir(kDoc, por, por, clave);
  Descripcion d;
  ASSERT_TRUE(DecodificarDescripcion(bueno.data(), bueno.size(), d));
  EXPECT_EQ(IdentidadDescrita(d.fichero), "0001-0002-doc");
  EXPECT_EQ(std::vector<int64_t>({d.fichero.totpartes, d.fichero.tamparte, d.fichero.largo,
                                  static_cast<int64_t>(d.fichero.sello), d.primera, d.cuantos}),
            std::vector<int64_t>({200, 1428, 199 * 1428 + 7, 5, por, por}));
  Bytes primera(1428, static_cast<unsigned char>(por)), resumen(kTamResumen);
  ResumirParte(primera.data(), primera.size(), resumen.data());
  EXPECT_EQ(memcmp(d.resumenes, resumen.data(), kTamResumen), 0);
  EXPECT_TRUE(Verifica(bueno, clave.publica));
  EXPECT_FALSE(Verifica(bueno, otra.publica));
  for (std::size_t largo = 0; largo <= bueno.size() + 1; ++largo) {
    Bytes cambiado = bueno;
    cambiado.resize(largo);
    EXPECT_EQ(Verifica(cambiado, clave.publica), largo == bueno.size()) << largo;
  }
  for (std::size_t i = 0; i < bueno.size() * 8; ++i) {
    Bytes malo = bueno;
    malo[i / 8] ^= static_cast<unsigned char>(1 << (i % 8));
    EXPECT_FALSE(Verifica(malo, clave.publica)) << i;
  }
}

// The table: a part checked against what is signed of its file, in every way it can differ.
TEST(TablaDeFirmas, VeredictosDeCadaParte) {
  Clave clave;
  TablaDeFirmas tabla;
  tabla.claves = {clave.publica};
  auto anotar = [&](const FicheroDescrito &f, int32_t primera, int32_t cuantos) {
    Bytes datagrama = Describir(f, primera, cuantos, clave);
    Descripcion d;
    EXPECT_TRUE(DecodificarDescripcion(datagrama.data(), datagrama.size(), d) &&
                ClaveQueFirma(tabla, d) != nullptr);
    return AnotarDescripcion(tabla, d);
  };
  auto comprobar = [&](int32_t totpartes, int32_t parte, std::size_t largo, unsigned char byte) {
    Bytes contenido(largo, byte);
    return ComprobarParte(tabla, "0001-0002-doc", totpartes, parte, contenido.data(),
                          static_cast<int32_t>(largo));
  };
  EXPECT_EQ(comprobar(200, 0, 1428, 0), Firma::kSinDescripcion);
  EXPECT_EQ(anotar(kDoc, 0, 50), Anotada::kNueva);
  EXPECT_EQ(anotar(kDoc, 199, 1), Anotada::kMas);
  struct Caso {
    int32_t totpartes, parte;
    std::size_t largo;
    unsigned char byte;
    Firma esperada;
  } casos[] = {{200, 0, 1428, 0, Firma::kCierta},          {200, 49, 1428, 49, Firma::kCierta},
               {200, 199, 7, 199, Firma::kCierta},         {200, 1, 1428, 2, Firma::kFalsa},
               {200, 199, 8, 199, Firma::kFalsa},          {200, 3, 1427, 3, Firma::kFalsa},
               {201, 3, 1428, 3, Firma::kFalsa},           {200, 200, 1428, 0, Firma::kFalsa},
               {200, 50, 1428, 50, Firma::kSinDescripcion}};
  for (const Caso &c : casos)
    EXPECT_EQ(comprobar(c.totpartes, c.parte, c.largo, c.byte), c.esperada) << c.parte;
  // a new version's layout makes the old one's last part false
  FicheroDescrito nueva = kDoc;
  nueva.largo -= 1;
  nueva.sello = 7;
  uint64_t antes = GeneracionDe(tabla, "0001-0002-doc");
  EXPECT_EQ(anotar(nueva, 0, 10), Anotada::kNueva);
  EXPECT_EQ(comprobar(200, 199, 7, 199), Firma::kFalsa);
  // parts checked under the version before cannot complete the file
  EXPECT_FALSE(TodasComprobadas(tabla, "0001-0002-doc", antes));
  EXPECT_TRUE(TodasComprobadas(tabla, "0001-0002-doc", GeneracionDe(tabla, "0001-0002-doc")));
}

}  // namespace
