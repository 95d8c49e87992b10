// The judgement of a datagram as a table of (store, facts, datagram) -> verdict: the store is
// built in memory and the facts given, with no socket and no disk.
#include "juicio.h"

#include <gtest/gtest.h>

#include <cstring>

#include "e2e.h"

namespace {

// Parts of 100 bytes of a file of 300, part i counted from 1.
std::string Parte(uint32_t i, char byte = 'a', uint32_t total = 3, std::size_t largo = 100) {
  return Datagrama(1, 2, i, total, "f", std::string(largo, byte));
}

struct Caso {
  std::vector<int32_t> tomadas;  // parts (from 0) held by a file in progress; {-1}: no file
  Hechos hechos;                 // cual is 0 when there is a file
  std::string datagrama;
  Decision decision;
  Causa causa = Causa::kCorto;  // when refused, or why the layout changes
  Disposicion propuesta = {};   // a layout offered to the file, with its part 0
  bool actualizar = false;      // -a
};

// 0001-0002-f of 3 parts of 100 bytes, holding the parts given.
FicheroEnCurso FicheroDe(const Caso &caso) {
  FicheroEnCurso f;
  f.old_nombre = "0001-0002-f";
  f.disposicion = {3, 100, -1};
  EmpezarPartes(f.partes, 3);
  for (int32_t i : caso.tomadas) Tomar(f.partes, i);
  f.propuesta = caso.propuesta;
  if (caso.propuesta.totpartes != 0) {
    f.parte_propuesta = 0;
    f.contenido_propuesto.assign(100, 'a');
  }
  return f;
}

Veredicto JuzgarCaso(const Caso &caso) {
  AlmacenFicheros almacen;
  almacen.opciones.actualizar = caso.actualizar;
  Hechos hechos = caso.hechos;
  if (caso.tomadas != std::vector<int32_t>{-1}) {
    almacen.en_curso.push_back(FicheroDe(caso));
    hechos.cual = 0;
  }
  unsigned char buffer[kTamRanura] = {};
  memcpy(buffer, caso.datagrama.data(), caso.datagrama.size());
  Paquete paquete{buffer, static_cast<int>(caso.datagrama.size()), kTamRanura, false};
  DatagramaActual actual;
  DecodificarCabecera(paquete.datos, static_cast<std::size_t>(paquete.legibles), actual);
  return Juzgar(almacen, hechos, actual, paquete, 100);
}

TEST(Juicio, CadaDatagramaRecibeSuVeredicto) {
  using D = Decision;
  const std::vector<int32_t> nada = {-1};
  Hechos grabado, distinto, igual;
  grabado.grabado = true;
  distinto.grabado = true;
  distinto.igual_que_grabado = false;
  igual.igual_que_guardada = true;
  const Caso casos[] = {
      {nada, {}, std::string(20, 'x'), D::kRechazado, Causa::kCorto},
      {nada, {}, Parte(1, 'a', 50001), D::kRechazado, Causa::kExcedido},
      {nada, {}, Parte(4), D::kRechazado, Causa::kFuera},
      {nada, {}, Parte(1, 'a', 3, 0), D::kRechazado, Causa::kVacia},
      {nada, {}, Datagrama(1, 2, 1, 1, "a/b", "x"), D::kRechazado, Causa::kBarra},
      {nada, {}, Datagrama(1, 2, 1, 1, "x.tmp", "x"), D::kRechazado, Causa::kTemporal},
      {nada, {}, Parte(1), D::kEmpezar},
      {nada, grabado, Parte(1), D::kGrabado},
      {nada, grabado, Parte(2), D::kGrabado, {}, {}, true},
      {nada, distinto, Parte(2, 'b'), D::kNuevaVersion, {}, {}, true},
      {{0}, {}, Parte(2), D::kTomar},
      {{2}, igual, Parte(3), D::kRepetida},
      {{0}, igual, Parte(1), D::kRepetida},
      {{0}, {}, Parte(1, 'b'), D::kCambioDeContenido},
      {{0}, {}, Parte(1, 'a', 4), D::kRechazado, Causa::kOtraCuenta},
      {{0}, {}, Parte(2, 'a', 3, 90), D::kRechazado, Causa::kOtroTamano},
      {{0}, {}, Parte(2, 'a', 4), D::kCambioDeDisposicion, Causa::kOtraCuenta, {4, 100, -1}},
  };
  for (std::size_t i = 0; i < std::size(casos); ++i) {
    SCOPED_TRACE(i);
    Veredicto v = JuzgarCaso(casos[i]);
    EXPECT_EQ(v.decision, casos[i].decision);
    if (v.decision == D::kRechazado || v.decision == D::kCambioDeDisposicion) {
      EXPECT_EQ(v.causa, casos[i].causa);
    }
  }
}

}  // namespace
