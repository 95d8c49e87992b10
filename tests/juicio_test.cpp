// The judgement of a datagram against the store, as a table of (store, datagram) -> verdict:
// the store is made by the pass itself in a temporary directory, the verdict asked without a
// socket, and the store found unchanged by it.
#include "juicio.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "e2e.h"
#include "marco.h"

namespace {

// Parts of 100 bytes of a file of 300, part i counted from 1.
std::string Parte(uint32_t i, char byte = 'a', uint32_t total = 3, std::size_t largo = 100) {
  return Datagrama(1, 2, i, total, "f", std::string(largo, byte));
}

struct Caso {
  const char *que;
  bool actualizar;                 // -a
  const char *grabado;             // content of a stored 0001-0002-f; nullptr: none
  std::vector<std::string> antes;  // datagrams passed first
  std::string datagrama;           // the one judged
  Decision decision;
  Causa causa = Causa::kCorto;  // when refused
  bool adelantada = false;      // when taken
};

class Juicio : public testing::Test {
 protected:
  void SetUp() override {
    char plantilla[] = "/tmp/juicio-test-XXXXXX";
    dir = mkdtemp(plantilla);
    anterior = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    salida = fopen("/dev/null", "w");
  }
  void TearDown() override {
    fclose(salida);
    std::filesystem::current_path(anterior);
    std::filesystem::remove_all(dir);
  }
  Paquete Cargar(const std::string &datagrama) {
    memset(buffer, 0, sizeof buffer);
    memcpy(buffer, datagrama.data(), datagrama.size());
    return Paquete{buffer, static_cast<int>(datagrama.size()), kTamRanura, false};
  }
  Veredicto Juzgar(const Caso &caso) {
    AlmacenFicheros almacen;
    almacen.opciones.actualizar = caso.actualizar;
    almacen.opciones.silencioso = true;
    if (caso.grabado != nullptr) std::ofstream("0001-0002-f") << caso.grabado;
    EstadoBucle estado;
    estado.modo = 2;
    DatagramaActual actual;
    for (const std::string &d : caso.antes)
      ProcesarPaquete(Cargar(d), estado, actual, almacen, salida);
    Paquete paquete = Cargar(caso.datagrama);
    DecodificarCabecera(paquete.datos, static_cast<std::size_t>(paquete.legibles), actual);
    ConstruirIdentidad(actual);
    std::vector<Partes> partes;
    for (const FicheroEnCurso &f : almacen.en_curso) partes.push_back(f.partes);
    Veredicto v = ::Juzgar(almacen, actual, paquete, static_cast<int32_t>(100));
    for (std::size_t i = 0; i < partes.size(); ++i) {
      EXPECT_EQ(almacen.en_curso[i].partes.estados, partes[i].estados) << "the judgement changed";
      EXPECT_EQ(almacen.en_curso[i].partes.faltan, partes[i].faltan);
    }
    for (FicheroEnCurso &f : almacen.en_curso) close(f.pf1);
    return v;
  }
  std::string dir;
  std::filesystem::path anterior;
  FILE *salida = nullptr;
  unsigned char buffer[kTamRanura];
};

TEST_F(Juicio, CadaDatagramaRecibeSuVeredictoSinCambiarElAlmacen) {
  const std::string igual(300, 'a');
  const Caso casos[] = {
      {"corto", false, nullptr, {}, std::string(20, 'x'), Decision::kRechazado, Causa::kCorto},
      {"fuera", false, nullptr, {}, Parte(4), Decision::kRechazado, Causa::kFuera},
      {"vacia", false, nullptr, {}, Parte(1, 'a', 3, 0), Decision::kRechazado, Causa::kVacia},
      {"barra",
       false,
       nullptr,
       {},
       Datagrama(1, 2, 1, 1, "a/b", "x"),
       Decision::kRechazado,
       Causa::kBarra},
      {"temporal",
       false,
       nullptr,
       {},
       Datagrama(1, 2, 1, 1, "x.tmp", "x"),
       Decision::kRechazado,
       Causa::kTemporal},
      {"nuevo", false, nullptr, {}, Parte(1), Decision::kEmpezar},
      {"grabado", false, "otra cosa", {}, Parte(1), Decision::kGrabado},
      {"grabado igual", true, igual.c_str(), {}, Parte(2), Decision::kGrabado},
      {"otra version", true, igual.c_str(), {}, Parte(2, 'b'), Decision::kNuevaVersion},
      {"siguiente", false, nullptr, {Parte(1)}, Parte(2), Decision::kTomar},
      {"ultima apartada",
       false,
       nullptr,
       {Parte(3, 'a', 3, 50)},
       Parte(3, 'a', 3, 50),
       Decision::kRepetida},
      {"repetida", false, nullptr, {Parte(1)}, Parte(1), Decision::kRepetida},
      {"cambiada", false, nullptr, {Parte(1)}, Parte(1, 'b'), Decision::kCambioDeContenido},
      {"otra cuenta",
       false,
       nullptr,
       {Parte(1)},
       Parte(1, 'a', 4),
       Decision::kRechazado,
       Causa::kOtraCuenta},
      {"otro tamano",
       false,
       nullptr,
       {Parte(1)},
       Parte(2, 'a', 3, 90),
       Decision::kRechazado,
       Causa::kOtroTamano},
      {"cambio de disposicion",
       false,
       nullptr,
       {Parte(1), Parte(1, 'a', 4)},
       Parte(2, 'a', 4),
       Decision::kCambioDeDisposicion,
       Causa::kOtraCuenta},
      {"tardia",
       false,
       nullptr,
       {Parte(1), Parte(1, 'a', 4), Parte(2, 'a', 4)},
       Parte(3),
       Decision::kRechazado,
       Causa::kOtraCuenta},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.que);
    Veredicto v = Juzgar(caso);
    EXPECT_EQ(v.decision, caso.decision);
    if (caso.decision == Decision::kRechazado) {
      EXPECT_EQ(v.causa, caso.causa);
    }
    for (const auto &entrada : std::filesystem::directory_iterator("."))
      std::filesystem::remove_all(entrada.path());
  }
}

// A last part that comes before the file's part size is known is kept aside, where the loop's
// part size puts it; once the file knows its own, the last goes where that one says.
TEST_F(Juicio, LaUltimaParteAntesDeConocerElTamanoSeApartaHastaConocerlo) {
  FicheroEnCurso f;
  f.disposicion = {3, kTamParteDesconocido, -1};
  Colocacion c = Colocar(f, 2, 50, 80);
  EXPECT_TRUE(c.adelantada);
  EXPECT_EQ(c.posicion, 160);
  f.disposicion.tamparte = 100;
  c = Colocar(f, 2, 50, 80);
  EXPECT_FALSE(c.adelantada);
  EXPECT_EQ(c.posicion, 200);
  EXPECT_TRUE(Colocar(f, 0, 100, 80).fija_tamano == false);
}

}  // namespace
