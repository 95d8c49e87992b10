// The per-datagram pass outside mode 2, and the lines it prints for every datagram and part.
#include "paso.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <unistd.h>

#include "almacen.h"
#include "guardar.h"
#include "informes.h"
#include "salida.h"
#include "volcado.h"

namespace {

// Type 00 01, subtype 00 02; the buffer zeroed past the datagram, its NUL stored.
struct Datagrama {
  unsigned char bytes[kTamRanura] = {};
  int largo;
  Datagrama(uint32_t parte, uint32_t total, int largo_, const char *nombre = "datos")
      : largo(largo_) {
    CodificarCabecera({1, 2, parte, total, nombre}, bytes);
    memset(bytes + TamCabecera, 'c', kTamMaxPaquete - TamCabecera);
    bytes[largo] = 0;
  }
  Paquete paquete() const { return {bytes, largo, kTamRanura, false}; }
};

template <class Escritura>
std::string Capturar(Escritura escribir) {
  char *texto = nullptr;
  size_t largo = 0;
  FILE *salida = open_memstream(&texto, &largo);
  escribir(salida);
  fclose(salida);
  std::string resultado(texto, largo);
  free(texto);
  return resultado;
}

std::string Procesar(const Datagrama &datagrama, Bucle &estado, DatagramaActual &actual) {
  static AlmacenFicheros almacen;  // untouched outside mode 2
  return Capturar(
      [&](FILE *salida) { ProcesarPaquete(datagrama.paquete(), estado, actual, almacen, salida); });
}

std::string Procesar(const Datagrama &datagrama, Bucle &estado) {
  DatagramaActual actual;
  return Procesar(datagrama, estado, actual);
}

TEST(Paso, LaLineaDeResumenMuestraLosCamposDecodificadosYLaIdentidadQuedaHecha) {
  Bucle estado;
  DatagramaActual actual;
  EXPECT_EQ(Procesar(Datagrama(4, 10, 1500), estado, actual),
            "T:0001|S:0002|Nom:datos|3/10|MxPrt:1456|Fltn:0|\n");
  EXPECT_EQ(actual.elnombre, "0001-0002-datos");
  EXPECT_EQ(Procesar(Datagrama(10, 10, 500, ""), estado),
            "T:0001|S:0002|Nom:|9/10|MxPrt:1456|Fltn:0|\n");
  EXPECT_EQ(Procesar(Datagrama(0, 0x80000000u, TamCabecera), estado),
            "T:0001|S:0002|Nom:datos|-1/-2147483648|MxPrt:0|Fltn:0|\n");
}

TEST(Paso, ElTamanoDeParteSoloLoFijaUnaParteCompletaQueNoEsLaUltima) {
  struct Paso {
    uint32_t parte, total;
    int largo;
    int32_t tamparte;  // after the datagram
  };
  struct Caso {
    const char *nombre;
    std::vector<Paso> pasos;
  } casos[] = {
      {"unica parte", {{1, 1, 1500, 0}}},
      {"ultima antes que las demas", {{10, 10, 1000, 0}, {4, 10, 1500, 1456}, {10, 10, 100, 1456}}},
      {"la ultima no lo cambia", {{1, 3, 144, 100}, {3, 3, 50, 100}, {2, 3, 44, 0}}},
      {"datagrama corto", {{1, 3, 1044, 1000}, {1, 3, 43, 1000}, {1, 3, 0, 1000}}},
      {"total en el limite", {{1, 50000, 1500, 1456}}},
      {"total cero o negativo", {{1, 0, 500, 0}, {1, 0xffffffffu, 500, 0}}},
      {"parte cero", {{0, 1, 144, 100}, {0, 0, 244, 100}}},
      {"total minimo", {{1, 0x80000000u, 1500, 1456}, {0x80000000u, 0x80000000u, 144, 1456}}},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.nombre);
    Bucle estado;
    for (const Paso &paso : caso.pasos) {
      SCOPED_TRACE(testing::Message() << paso.parte << "/" << paso.total << " de " << paso.largo);
      const std::string linea = Procesar(Datagrama(paso.parte, paso.total, paso.largo), estado);
      EXPECT_EQ(estado.tamparte, paso.tamparte);
      EXPECT_NE(linea.find("|MxPrt:" + std::to_string(paso.tamparte) + "|"), std::string::npos);
    }
  }
}

TEST(Paso, UnDatagramaMasCortoQueLaCabeceraNoCambiaElTamanoNiDisparaElLimite) {
  for (int largo = 0; largo <= 50; ++largo) {
    SCOPED_TRACE(largo);
    Bucle estado;
    estado.tamparte = 777;
    Procesar(Datagrama(1, largo < TamCabecera ? 60000 : 3, largo), estado);
    EXPECT_EQ(estado.tamparte, largo < TamCabecera ? 777 : largo - TamCabecera);
  }
}

// A count over the limit asks the run to end (the loop ends it with status 2, its line last),
// and the batch goes no further. Quiet, as a service runs, it is refused in every mode, told once
// for its file, and the pass goes on.
TEST(Paso, UnTotalPorEncimaDelLimitePideElFinOCallandoSeRechaza) {
  const std::string rechazo =
      "0001-0002-datos: Total de partes 50001 mayor que el maximo (50000), descartado.\n";
  struct Caso {
    bool silencioso;
    int modo;
    uint32_t total;
  };
  for (auto [silencioso, modo, total] :
       {Caso{false, 1, 50001u}, Caso{false, 1, 0x7fffffffu}, Caso{true, 0, 50001u},
        Caso{true, 1, 50001u}, Caso{true, 2, 50001u}}) {
    SCOPED_TRACE(testing::Message() << silencioso << modo << total);
    Bucle estado;
    estado.modo = modo;
    DatagramaActual actual;
    AlmacenFicheros almacen;
    almacen.opciones.silencioso = silencioso;
    const Datagrama datagrama(1, total, 100);  // apart: a lambda cannot name a binding
    std::string texto = Capturar([&](FILE *salida) {
      for (int i = 0; i < 3 && estado.excedido == 0; ++i)
        ProcesarPaquete(datagrama.paquete(), estado, actual, almacen, salida);
    });
    EXPECT_EQ(texto, silencioso ? rechazo : "");
    EXPECT_EQ(estado.excedido, silencioso ? 0 : static_cast<int32_t>(total));
    EXPECT_EQ(estado.datagramas, silencioso ? 3u : 1u);
  }
}

TEST(Paso, SoloElModoCeroAnadeElVolcadoTrasLaLinea) {
  const Datagrama datagrama(4, 10, 1500);
  const std::string volcado =
      Capturar([&](FILE *salida) { ImprimirVolcado(datagrama.bytes, datagrama.largo, salida); });
  const std::string linea = "T:0001|S:0002|Nom:datos|3/10|MxPrt:1456|Fltn:0|\n";
  for (int modo : {0, 1, 3, -1, 255}) {
    SCOPED_TRACE(modo);
    Bucle estado;
    estado.modo = modo;
    EXPECT_EQ(Procesar(datagrama, estado), modo == 0 ? linea + volcado : linea);
  }
}

// Messages as a receive leaves them, each a run of datagrams of the size given (0: one alone)
// from the sender given (1 or 2), through the pass in one batch, or in one batch each: what it
// printed, and the names and sizes of the files it left.
std::string PasarMensajes(const std::vector<std::string> &mensajes,
                          const std::vector<int> &segmentos, int modo,
                          const std::vector<int> &emisores = {},
                          const OpcionesAlmacen &opciones = {}, bool uno_por_lote = false) {
  auto receptor = std::make_unique<Receptor>();
  Bucle estado;
  estado.modo = modo;
  DatagramaActual actual;
  AlmacenFicheros almacen;
  almacen.opciones = opciones;
  char plantilla[] = "/tmp/marco-test-XXXXXX";
  auto anterior = std::filesystem::current_path();
  std::filesystem::current_path(mkdtemp(plantilla));  // mode 2 stores there
  std::string texto = Capturar([&](FILE *f) {
    for (std::size_t i = 0, n = 0; i < mensajes.size(); ++i) {
      memcpy(receptor->mensajes_datos[n], mensajes[i].data(), mensajes[i].size());
      receptor->mensajes[n].msg_len = static_cast<unsigned>(mensajes[i].size());
      receptor->segmento[n] = segmentos[i];
      auto &origen = reinterpret_cast<sockaddr_in &>(receptor->origenes[n]);
      uint32_t emisor = i < emisores.size() ? static_cast<uint32_t>(emisores[i]) : 1;
      origen = {AF_INET, htons(9000), {htonl(0x7f000000u + emisor)}, {}};
      if (++n < static_cast<std::size_t>(kTamLote) && !uno_por_lote && i + 1 < mensajes.size())
        continue;
      SepararDatagramas(*receptor, static_cast<int>(n));
      ProcesarLote(*receptor, estado, actual, almacen, f);
      n = 0;
    }
    VolcarFicheros(almacen, f);
  });
  for (const auto &entrada : std::filesystem::directory_iterator("."))
    texto += entrada.path().filename().string() + " " +
             std::to_string(std::filesystem::file_size(entrada.path())) + "\n";
  for (FicheroEnCurso &f : almacen.en_curso) close(f.pf1);
  std::filesystem::current_path(anterior);
  std::filesystem::remove_all(plantilla);
  return texto;
}

// A run the kernel merged is taken as its datagrams one by one: a shorter last one, a short one
// that reads what the one before left, and ones over the limit inside the run.
TEST(Paso, UnaTandaFundidaDaLoMismoQueSusDatagramasUnoAUno) {
  auto bytes = [](uint32_t parte, int largo) {
    Datagrama d(parte, 9, largo);
    return std::string(reinterpret_cast<const char *>(d.bytes), static_cast<std::size_t>(largo));
  };
  const std::vector<std::vector<std::string>> tandas = {
      {bytes(1, 1500), bytes(2, 1500), bytes(3, 700)},
      {bytes(4, 300), bytes(5, 300), bytes(6, 30)},
      {bytes(7, 1500) + "xyz", bytes(8, 1500) + "xyz", bytes(9, 1000)},
  };
  for (const auto &tanda : tandas) {
    std::string fundido;
    for (const std::string &d : tanda) fundido += d;
    for (int modo : {0, 1, 2}) {
      SCOPED_TRACE(tanda[0].size());
      EXPECT_EQ(PasarMensajes({fundido}, {static_cast<int>(tanda[0].size())}, modo),
                PasarMensajes(tanda, std::vector<int>(tanda.size(), 0), modo));
    }
  }
}

// A datagram of a sender, 1 or 2, with its first content byte given.
struct DeEmisor {
  uint32_t parte, total;
  int emisor;
  char primero = 'c';
};

std::string PasarEnLotes(const std::vector<DeEmisor> &datagramas, const OpcionesAlmacen &opciones,
                         bool uno_por_lote) {
  std::vector<std::string> mensajes;
  std::vector<int> emisores;
  for (const DeEmisor &d : datagramas) {
    Datagrama datagrama(d.parte, d.total, 1500);
    datagrama.bytes[TamCabecera] = static_cast<unsigned char>(d.primero);
    mensajes.emplace_back(reinterpret_cast<const char *>(datagrama.bytes), 1500);
    emisores.push_back(d.emisor);
  }
  return PasarMensajes(mensajes, std::vector<int>(mensajes.size(), 0), 2, emisores, opciones,
                       uno_por_lote);
}

// What a batch looks up once for a run of one file's datagrams must hold for each of them: a
// file that completes or starts afresh inside the batch, two senders, a stored file.
TEST(Paso, UnLoteDaLoMismoQueUnDatagramaPorLote) {
  OpcionesAlmacen callado, por_emisor, versiones;
  callado.silencioso = true;
  por_emisor.maximo = 2;
  por_emisor.por_emisor = true;
  versiones.actualizar = true;
  const std::vector<std::pair<OpcionesAlmacen, std::vector<DeEmisor>>> casos = {
      {callado, {{1, 2, 1}, {2, 2, 1}, {1, 2, 1}, {2, 2, 1}}},
      {{}, {{1, 3, 1}, {2, 3, 1}, {2, 3, 1, 'x'}, {1, 3, 1}, {3, 3, 1}, {1, 3, 1}}},
      {por_emisor,
       {{1, 3, 1}, {1, 3, 2}, {2, 3, 1}, {2, 3, 2, 'y'}, {3, 3, 2}, {3, 3, 1}, {1, 3, 2}}},
      {versiones, {{1, 2, 1}, {2, 2, 1}, {1, 2, 1, 'v'}, {2, 2, 1}, {1, 2, 1}, {1, 3, 1}}},
  };
  for (std::size_t i = 0; i < casos.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(PasarEnLotes(casos[i].second, casos[i].first, false),
              PasarEnLotes(casos[i].second, casos[i].first, true));
  }
}

// The summary line as printf writes it, from the fields the pass left; out of mode 2 nothing is
// missing.
std::string ResumenConPrintf(const DatagramaActual &actual, const Bucle &estado,
                             bool a_terminal) {
  std::string nombre = a_terminal ? NombreVisible(actual.nombre) : std::string(actual.nombre);
  char linea[4096];
  int largo = snprintf(linea, sizeof linea, "T:%s|S:%s|Nom:%s|%d/%d|MxPrt:%d|Fltn:%d|\n",
                       actual.eltipo, actual.elsubtipo, nombre.c_str(), actual.parteactual,
                       actual.totpartes, estado.tamparte, 0);
  return std::string(linea, static_cast<std::size_t>(largo));
}

// The datagrams of a file, of several, and of one whose identity, count or size changes from
// one to the next: every way the kept parts of the line could be stale.
std::vector<Datagrama> MezclaDeFicheros() {
  // first and last a name with control bytes, shown otherwise on a terminal: the next pass
  // starts with the identity the last one ended with
  const char *con_controles = "dat\x1b]0;x\x07os";
  std::vector<Datagrama> mezcla;
  mezcla.emplace_back(1, 2, 1500, con_controles);
  for (uint32_t parte = 1; parte <= 3; ++parte) mezcla.emplace_back(parte, 3, 1500);
  mezcla.emplace_back(1, 3, 1500, "otro");
  mezcla.emplace_back(2, 3, 1500);
  mezcla.emplace_back(2, 4, 1500);  // the same file with another count
  mezcla.emplace_back(3, 4, 900);   // and another part size
  mezcla.emplace_back(4, 4, 100);   // its last part, which keeps the size
  mezcla.emplace_back(1, 2, 1500, "");
  mezcla.emplace_back(1, 2, 20);                                        // shorter than the header
  mezcla.emplace_back(1, 2, 1500, "nombre-que-llena-su-campo-de-32b");  // runs into the content
  mezcla.emplace_back(1, 2, 1500, "datos");
  mezcla.back().bytes[1] = 7;  // another type, the same name
  mezcla.emplace_back(1, 2, 1500, "datos");
  mezcla.back().bytes[3] = 9;  // another subtype
  mezcla.emplace_back(1, 2, 1500, "datos");
  mezcla.emplace_back(2, 2, 1500, con_controles);
  return mezcla;
}

// The whole text a temporary stream received; it is closed.
std::string Vaciado(FILE *salida) {
  fflush(salida);
  std::string texto(static_cast<std::size_t>(ftell(salida)), '\0');
  rewind(salida);
  EXPECT_EQ(fread(texto.data(), 1, texto.size(), salida), texto.size());
  fclose(salida);
  return texto;
}

// Through a stream with the buffering given; the whole text it received.
std::string PasarPorFlujo(const std::vector<Datagrama> &mezcla, int buffer, bool a_terminal,
                          Bucle &estado, DatagramaActual &actual, std::string &esperado) {
  AlmacenFicheros almacen;
  almacen.opciones.a_terminal = a_terminal;
  FILE *salida = tmpfile();
  setvbuf(salida, nullptr, buffer, buffer == _IONBF ? 0 : 256);
  for (const Datagrama &d : mezcla) {
    ProcesarPaquete(d.paquete(), estado, actual, almacen, salida);
    // the header decoded alone: what a run of one file keeps must not go stale
    DatagramaActual solo;
    DecodificarCabecera(d.bytes, kTamRanura, solo);
    esperado += ResumenConPrintf(solo, estado, a_terminal);
  }
  return Vaciado(salida);
}

// The fixed parts of the summary line are kept from one datagram to the next and only the
// numbers written, straight into the stream's buffer where it has room: the lines must be
// those printf writes, whatever came before and however the stream is buffered.
TEST(Paso, LaLineaDeResumenConSusPartesGuardadasEsLaDePrintf) {
  const std::vector<Datagrama> mezcla = MezclaDeFicheros();
  for (int buffer : {_IOFBF, _IOLBF, _IONBF}) {
    SCOPED_TRACE(buffer);
    // one state for both: a terminal after a file, with the same identity kept
    Bucle estado;
    DatagramaActual actual;
    for (bool a_terminal : {false, true, false}) {
      SCOPED_TRACE(a_terminal);
      std::string esperado;
      EXPECT_EQ(PasarPorFlujo(mezcla, buffer, a_terminal, estado, actual, esperado), esperado);
    }
  }
}

// The part's line is built in place in the stream's buffer when it has room, apart otherwise:
// both as printf writes it, for every digit count of both numbers.
TEST(Salida, LaLineaDeUnaParteEsLaDePrintf) {
  std::vector<int64_t> numeros = {0, INT64_MAX};
  for (int64_t potencia = 1; potencia <= INT64_MAX / 10; potencia *= 10)
    numeros.insert(numeros.end(), {potencia, potencia - 1, potencia * 7 + 3});
  for (int buffer : {_IOFBF, _IOLBF, _IONBF}) {
    SCOPED_TRACE(buffer);
    AlmacenFicheros almacen;
    std::string esperado;
    FILE *salida = tmpfile();
    setvbuf(salida, nullptr, buffer, buffer == _IONBF ? 0 : 256);
    for (int64_t posicion : numeros)
      for (int64_t largo : numeros) {
        InformarParte(almacen, posicion, static_cast<std::size_t>(largo), salida);
        char linea[128];
        snprintf(linea, sizeof linea, "NO LA TENGO,posicion %" PRId64 "....%" PRId64 " bytes...\n",
                 posicion, largo);
        esperado += linea;
      }
    EXPECT_EQ(Vaciado(salida), esperado);
  }
}

TEST(Salida, FormatearEnteroEscribeLoMismoQuePrintf) {
  // the limits, and numbers with zeros inside a group of four digits
  std::vector<int64_t> numeros = {0,         -1,    INT32_MIN, INT32_MAX, INT64_MIN,
                                  INT64_MAX, 10203, 1002003,   90000801};
  // every digit count, on both sides of each power of ten
  for (int64_t potencia = 1; potencia <= INT64_MAX / 10; potencia *= 10)
    for (int64_t numero : {potencia, potencia - 1, potencia * 10 - 1}) {
      numeros.push_back(numero);
      numeros.push_back(-numero);
    }
  for (int64_t numero : numeros) {
    char esperado[32], obtenido[32] = {};
    snprintf(esperado, sizeof esperado, "%" PRId64, numero);
    SCOPED_TRACE(esperado);
    const std::size_t largo = FormatearEntero(obtenido, numero);
    EXPECT_EQ(std::string(obtenido, largo), esperado);
  }
}

}  // namespace

// A line keeps what fits, whatever it is given, and writes nothing past its buffer: every
// length around the room left, for text, numbers and names.
TEST(Salida, UnRenglonLlenoNoSeDesborda) {
  const std::string resto = "-9223372036854775808" + std::string(3000, '?');
  for (std::size_t antes = sizeof(Renglon::texto) - 25; antes <= sizeof(Renglon::texto); ++antes) {
    Renglon linea;
    Anadir(linea, std::string(antes, 'a'));
    AnadirEntero(linea, INT64_MIN);
    AnadirNombre(linea, std::string(3000, '\n'), true);
    Anadir(linea, "b");
    ASSERT_EQ(linea.largo, sizeof linea.texto) << antes;
    EXPECT_EQ(std::string(linea.texto + antes, linea.largo - antes),
              resto.substr(0, linea.largo - antes))
        << antes;
  }
}
