// The record of a file's parts read back whole, and refused in every damaged form: cut at any
// byte, a line left out or swapped, grown past any record, or of another sender's version.
#include "registro.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e.h"
#include "nombres.h"

namespace {

class Registro : public testing::Test {
 protected:
  void SetUp() override {
    dir = DirectorioNuevo();
    anterior = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    salida = fopen("/dev/null", "w");
    escrito = Nuevo();
    escrito.disposicion = {5, 100, 50};
    for (int32_t i : {0, 2, 4}) Tomar(escrito.partes, i);
    MarcarEnDisco(escrito.partes, -1);
    ASSERT_TRUE(EscribirRegistro(almacen, escrito, salida));
    texto = LeerFichero(NombreRegistro(escrito.apodo));
  }
  void TearDown() override {
    close(escrito.pf1);
    fclose(salida);
    std::filesystem::current_path(anterior);
    BorrarDirectorio(dir);
  }
  // A file of five parts in progress over the one temporary file.
  FicheroEnCurso Nuevo() {
    FicheroEnCurso f;
    f.old_nombre = f.apodo = "0001-0002-r";
    f.old_nombre_temp = NombreTemporal(f.apodo);
    f.disposicion.totpartes = 5;
    EmpezarPartes(f.partes, 5);
    f.pf1 =
        escrito.pf1 >= 0 ? escrito.pf1 : open(f.old_nombre_temp.c_str(), O_RDWR | O_CREAT, 0644);
    return f;
  }
  bool Leer(const std::string &registro, const sockaddr_storage &emisor = {}) {
    std::ofstream(NombreRegistro(escrito.apodo), std::ios::binary | std::ios::trunc) << registro;
    FicheroEnCurso f = Nuevo();
    f.emisor = emisor;
    return LeerRegistro(f, f.pf1);
  }
  std::string dir, texto;
  std::filesystem::path anterior;
  FILE *salida = nullptr;
  AlmacenFicheros almacen;
  FicheroEnCurso escrito;
};

TEST_F(Registro, SoloUnRegistroEnteroSeLee) {
  EXPECT_TRUE(Leer(texto));
  for (std::size_t largo = 0; largo < texto.size(); ++largo)
    EXPECT_FALSE(Leer(texto.substr(0, largo))) << "cut at " << largo;
  std::vector<std::string> lineas;
  std::istringstream entrada(texto);
  for (std::string linea; std::getline(entrada, linea);) lineas.push_back(linea + "\n");
  for (std::size_t i = 0; i < lineas.size(); ++i) {
    std::string sin, cambiado;
    for (std::size_t j = 0; j < lineas.size(); ++j) {
      if (j != i) sin += lineas[j];
      cambiado += lineas[j == i ? (i + 1) % lineas.size() : j == (i + 1) % lineas.size() ? i : j];
    }
    EXPECT_FALSE(Leer(sin)) << "without line " << i;
    EXPECT_FALSE(Leer(cambiado)) << "line " << i << " swapped";
  }
  EXPECT_FALSE(Leer(texto + std::string(3 << 20, '1')));
}

// A record that names its sender resumes only that sender's version.
TEST_F(Registro, UnRegistroConEmisorSoloValeParaEse) {
  sockaddr_storage uno{}, otro{};
  for (auto [direccion, texto_ip] : {std::pair{&uno, "192.0.2.7"}, std::pair{&otro, "192.0.2.8"}}) {
    auto &v4 = reinterpret_cast<sockaddr_in &>(*direccion);
    v4.sin_family = AF_INET;
    inet_pton(AF_INET, texto_ip, &v4.sin_addr);
  }
  escrito.emisor = uno;
  ASSERT_TRUE(EscribirRegistro(almacen, escrito, salida));
  std::string con_emisor = LeerFichero(NombreRegistro(escrito.apodo));
  EXPECT_NE(con_emisor.find("\nemisor 192.0.2.7\n"), std::string::npos);
  EXPECT_TRUE(Leer(con_emisor, uno));
  EXPECT_FALSE(Leer(con_emisor, otro));
  EXPECT_EQ(EmisorDelRegistro(escrito.apodo), "192.0.2.7");
  EXPECT_TRUE(Leer(texto, otro)) << "a record of no sender resumes for any";
}

}  // namespace
