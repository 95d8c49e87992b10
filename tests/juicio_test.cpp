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
  std::vector<std::string> antes;  // datagrams passed first
  std::string datagrama;           // the one judged
  Decision decision;
  Causa causa = Causa::kCorto;    // when refused
  const char *grabado = nullptr;  // content of a stored 0001-0002-f; nullptr: none
  bool actualizar = false;        // -a
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
  using D = Decision;
  const std::string igual(300, 'a');
  const Caso casos[] = {
      {{}, std::string(20, 'x'), D::kRechazado, Causa::kCorto},
      {{}, Parte(4), D::kRechazado, Causa::kFuera},
      {{}, Parte(1, 'a', 3, 0), D::kRechazado, Causa::kVacia},
      {{}, Datagrama(1, 2, 1, 1, "a/b", "x"), D::kRechazado, Causa::kBarra},
      {{}, Datagrama(1, 2, 1, 1, "x.tmp", "x"), D::kRechazado, Causa::kTemporal},
      {{}, Parte(1), D::kEmpezar},
      {{}, Parte(1), D::kGrabado, {}, "otra cosa"},
      {{}, Parte(2), D::kGrabado, {}, igual.c_str(), true},
      {{}, Parte(2, 'b'), D::kNuevaVersion, {}, igual.c_str(), true},
      {{Parte(1)}, Parte(2), D::kTomar},
      {{Parte(3, 'a', 3, 50)}, Parte(3, 'a', 3, 50), D::kRepetida},
      {{Parte(1)}, Parte(1), D::kRepetida},
      {{Parte(1)}, Parte(1, 'b'), D::kCambioDeContenido},
      {{Parte(1)}, Parte(1, 'a', 4), D::kRechazado, Causa::kOtraCuenta},
      {{Parte(1)}, Parte(2, 'a', 3, 90), D::kRechazado, Causa::kOtroTamano},
      {{Parte(1), Parte(1, 'a', 4)}, Parte(2, 'a', 4), D::kCambioDeDisposicion, Causa::kOtraCuenta},
      {{Parte(1), Parte(1, 'a', 4), Parte(2, 'a', 4)}, Parte(3), D::kRechazado, Causa::kOtraCuenta},
  };
  for (std::size_t i = 0; i < std::size(casos); ++i) {
    SCOPED_TRACE(i);
    Veredicto v = Juzgar(casos[i]);
    EXPECT_EQ(v.decision, casos[i].decision);
    if (v.decision == D::kRechazado || v.decision == D::kCambioDeDisposicion) {
      EXPECT_EQ(v.causa, casos[i].causa);
    }
    for (const auto &entrada : std::filesystem::directory_iterator("."))
      std::filesystem::remove_all(entrada.path());
  }
}

}  // namespace
