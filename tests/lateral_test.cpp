// The side channel's descriptions, built in memory: what decodes and verifies, what a forger or
// a damaged datagram gets, what they cost on the wire, and the table's verdicts on parts.
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

// The digests of parts whose content is the part's number in every byte.
Bytes Resumenes(const FicheroDescrito &f) {
  Bytes todos(static_cast<std::size_t>(f.totpartes) * kTamResumen);
  for (int32_t i = 0; i < f.totpartes; ++i) {
    int64_t largo = i < f.totpartes - 1 ? f.tamparte : f.largo - int64_t{i} * f.tamparte;
    Bytes parte(static_cast<std::size_t>(largo), static_cast<unsigned char>(i));
    ResumirParte(parte.data(), parte.size(), &todos[static_cast<std::size_t>(i) * kTamResumen]);
  }
  return todos;
}

Bytes Describir(const FicheroDescrito &f, int32_t primera, int32_t cuantos, const Clave &clave) {
  Bytes todos = Resumenes(f), datagrama(kTamMaxLateral);
  datagrama.resize(CodificarDescripcion(f, primera, cuantos, &todos[primera * kTamResumen],
                                        clave.secreta.data(), datagrama.data()));
  return datagrama;
}

bool Verifica(const Bytes &datagrama, const Clave &clave) {
  Descripcion d;
  return DecodificarDescripcion(datagrama.data(), datagrama.size(), d) &&
         FirmaValida(d, clave.publica.data());
}

const FicheroDescrito kDoc{1, 2, "doc", 200, 1428, 199 * 1428 + 7, 5};

TEST(Descripcion, IdaYVueltaConSuClaveYNingunaOtra) {
  Clave clave, otra;
  int32_t por = ResumenesPorDatagrama(kDoc.nombre.size());
  Bytes datagrama = Describir(kDoc, por, por, clave);
  EXPECT_LE(datagrama.size(), static_cast<std::size_t>(kTamMaxLateral));
  Descripcion d;
  ASSERT_TRUE(DecodificarDescripcion(datagrama.data(), datagrama.size(), d));
  EXPECT_EQ(IdentidadDescrita(d.fichero), "0001-0002-doc");
  EXPECT_EQ(std::vector<int64_t>({d.fichero.totpartes, d.fichero.tamparte, d.fichero.largo,
                                  static_cast<int64_t>(d.fichero.sello), d.primera, d.cuantos}),
            std::vector<int64_t>({200, 1428, 199 * 1428 + 7, 5, por, por}));
  EXPECT_EQ(memcmp(d.resumenes, &Resumenes(kDoc)[por * kTamResumen], por * kTamResumen), 0);
  EXPECT_TRUE(FirmaValida(d, clave.publica.data()));
  EXPECT_FALSE(FirmaValida(d, otra.publica.data()));
}

// Cut anywhere, grown by a byte, or any bit changed: nothing a key holder did not sign passes.
TEST(Descripcion, DanadaNoPasaNunca) {
  Clave clave;
  Bytes bueno = Describir(kDoc, 190, 10, clave);
  for (std::size_t largo = 0; largo < bueno.size(); ++largo) {
    SCOPED_TRACE(largo);
    EXPECT_FALSE(Verifica(Bytes(bueno.begin(), bueno.begin() + largo), clave));
  }
  Bytes largo = bueno;
  largo.push_back(0);
  EXPECT_FALSE(Verifica(largo, clave));
  for (std::size_t i = 0; i < bueno.size() * 8; ++i) {
    SCOPED_TRACE(i);
    Bytes malo = bueno;
    malo[i / 8] ^= static_cast<unsigned char>(1 << (i % 8));
    EXPECT_FALSE(Verifica(malo, clave));
  }
}

// What no sender writes is refused before any signature is checked.
TEST(Descripcion, ImposiblesNoSeDecodifican) {
  Clave clave;
  static const std::string kLleno(kTamCampoNombre, 'n');
  struct Caso {
    FicheroDescrito f;
    int32_t primera, cuantos;
  } casos[] = {
      {{1, 2, "doc", 3, 1000, 2000, 1}, 0, 3},                   // last part empty
      {{1, 2, "doc", 3, 1000, 3001, 1}, 0, 3},                   // last part too long
      {{1, 2, "doc", 0, 1000, 0, 1}, 0, 0},                      // no parts
      {{1, 2, "doc", 50001, 1, 50001, 1}, 0, 10},                // over the limit
      {{1, 2, "doc", 3, 1457, 3 * 1457, 1}, 0, 3},               // parts too long
      {{1, 2, "doc", 3, 1000, 3000, 1}, 2, 2},                   // range past the end
      {{1, 2, std::string_view("d\0c", 3), 1, 10, 5, 1}, 0, 1},  // NUL in the name
      {{1, 2, kLleno, 1, 10, 5, 1}, 0, 1},                       // name fills its field
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.f.totpartes);
    Bytes resumenes(kTamMaxLateral), datagrama(kTamMaxLateral + 64);
    datagrama.resize(CodificarDescripcion(caso.f, caso.primera, caso.cuantos, resumenes.data(),
                                          clave.secreta.data(), datagrama.data()));
    Descripcion d;
    EXPECT_FALSE(DecodificarDescripcion(datagrama.data(), datagrama.size(), d));
  }
  EXPECT_TRUE(DisposicionPosible(1, 1428, 0));
}

// Against the file's bytes in parts of 1428, from files of 7 parts (10 KB) up, the description's
// datagrams with their UDP and IP headers.
TEST(Descripcion, CuestaMenosDelTresPorCiento) {
  for (int32_t partes : {7, 8, 50, 83, 84, 1000, 50000}) {
    for (std::size_t nombre : {1, 31}) {
      int32_t por = ResumenesPorDatagrama(nombre);
      int64_t datagramas = (partes + por - 1) / por;
      int64_t lateral = datagramas * (kTamFijoDescripcion + nombre + 28) + partes * kTamResumen;
      int64_t datos = int64_t{partes} * 1428;
      EXPECT_LT(lateral * 100, datos * 3) << partes << " partes";
    }
  }
}

// The table: a part checked against what is signed of its file; versions replace each other
// only upwards.
TEST(TablaDeFirmas, VeredictosDeCadaParte) {
  Clave clave;
  TablaDeFirmas tabla;
  tabla.claves = {clave.publica};
  auto anotar = [&](const FicheroDescrito &f, int32_t primera, int32_t cuantos) {
    Bytes datagrama = Describir(f, primera, cuantos, clave);
    Descripcion d;
    EXPECT_TRUE(DecodificarDescripcion(datagrama.data(), datagrama.size(), d));
    EXPECT_NE(ClaveQueFirma(tabla, d), nullptr);
    return AnotarDescripcion(tabla, d);
  };
  auto comprobar = [&](int32_t totpartes, int32_t parte, std::size_t largo, unsigned char byte) {
    Bytes contenido(largo, byte);
    return ComprobarParte(tabla, "0001-0002-doc", totpartes, parte, contenido.data(),
                          static_cast<int32_t>(largo));
  };
  EXPECT_EQ(comprobar(200, 0, 1428, 0), Firma::kSinDescripcion);
  EXPECT_EQ(anotar(kDoc, 0, 50), Anotada::kNueva);
  EXPECT_EQ(anotar(kDoc, 0, 50), Anotada::kMas);
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
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.parte);
    EXPECT_EQ(comprobar(caso.totpartes, caso.parte, caso.largo, caso.byte), caso.esperada);
  }
  uint64_t generacion = BuscarFirmado(tabla, "0001-0002-doc")->generacion;
  FicheroDescrito vieja = kDoc, nueva = kDoc;
  vieja.sello = 4;
  nueva.sello = 6;
  EXPECT_EQ(anotar(vieja, 0, 50), Anotada::kAntigua);
  // the same content under a higher version, from a sender started again, is no new version
  EXPECT_EQ(anotar(nueva, 0, 10), Anotada::kMas);
  EXPECT_EQ(BuscarFirmado(tabla, "0001-0002-doc")->generacion, generacion);
  nueva.largo -= 1;
  nueva.sello = 7;
  EXPECT_EQ(anotar(nueva, 0, 10), Anotada::kNueva);
  EXPECT_EQ(comprobar(200, 199, 7, 199), Firma::kFalsa);
  EXPECT_EQ(comprobar(200, 20, 1428, 20), Firma::kSinDescripcion);
}

}  // namespace
