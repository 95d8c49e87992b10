// Unit tests of the file store, on a real temporary directory, without a socket.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "almacen.h"
#include "e2e.h"
#include "guardar.h"
#include "paso.h"
#include "registro.h"

namespace {

// The header of a part of type 0001, subtype 0002; the content is appended by each test.
std::string Cabecera(uint32_t parte, uint32_t totpartes, const std::string &nombre) {
  return Datagrama(1, 2, parte, totpartes, nombre, "");
}

class AlmacenTest : public testing::Test {
 protected:
  void SetUp() override {
    char plantilla[] = "/tmp/almacen-test-XXXXXX";
    dir = mkdtemp(plantilla);
    anterior = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    salida = open_memstream(&texto, &largo);
    estado.modo = 2;
  }
  void TearDown() override {
    fclose(salida);
    free(texto);
    for (FicheroEnCurso &f : almacen.en_curso)
      if (f.pf1 >= 0) close(f.pf1);
    std::filesystem::current_path(anterior);
    std::filesystem::remove_all(dir);
  }
  // Runs one datagram through the whole pass and returns what it printed.
  std::string Pasar(const std::string &datagrama) {
    unsigned char buffer[kTamRanura] = {};
    memcpy(buffer, datagrama.data(), datagrama.size());
    Paquete paquete{buffer, static_cast<int>(datagrama.size()), kTamRanura, false};
    long antes = ftell(salida);
    ProcesarPaquete(paquete, estado, actual, almacen, salida);
    fflush(salida);
    return std::string(texto + antes, largo - static_cast<std::size_t>(antes));
  }
  std::string dir;
  std::filesystem::path anterior;
  char *texto = nullptr;
  std::size_t largo = 0;
  FILE *salida = nullptr;
  Bucle estado;
  DatagramaActual actual;
  AlmacenFicheros almacen;
};

// Parts of several sizes and orders end at their offsets, with the file's exact length.
TEST_F(AlmacenTest, CadaParteQuedaEnSuPosicionSeaCualSeaElOrden) {
  struct Caso {
    std::size_t tamparte, largo;
    std::vector<uint32_t> orden;  // indices from 0
  };
  const Caso casos[] = {
      {1456, 3012, {0, 1, 2}}, {1456, 3012, {2, 1, 0}}, {7, 70, {9, 0, 5, 1, 2, 3, 4, 6, 7, 8}},
      {100, 250, {1, 2, 0}},   {1, 3, {1, 0, 2}},       {500, 1000, {1, 0}}};
  int n = 0;
  for (const Caso &caso : casos) {
    std::string nombre = "f" + std::to_string(n++), contenido(caso.largo, '\0');
    for (std::size_t i = 0; i < caso.largo; ++i) contenido[i] = static_cast<char>(i * 7 + n);
    SCOPED_TRACE(nombre);
    uint32_t total = static_cast<uint32_t>(caso.orden.size());
    for (uint32_t i : caso.orden)
      Pasar(Cabecera(i + 1, total, nombre) + contenido.substr(i * caso.tamparte, caso.tamparte));
    EXPECT_EQ(LeerFichero("0001-0002-" + nombre), contenido);
    EXPECT_FALSE(std::filesystem::exists("0001-0002-" + nombre + ".tmp"));
  }
}

// Parts wait in memory until their file completes; a write that fails then puts them back among
// the missing, and the file completes once they come again.
TEST_F(AlmacenTest, UnaEscrituraFallidaDevuelveSusPartesYNoCompleta) {
  Pasar(Cabecera(1, 2, "falla") + "ab");
  int &pf1 = almacen.en_curso.at(0).pf1;
  int bueno = pf1;
  pf1 = open("/dev/null", O_RDONLY);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pasar(Cabecera(2, 2, "falla") + "c"),
            "T:0001|S:0002|Nom:falla|1/2|MxPrt:2|Fltn:1|\n"
            "NO LA TENGO,posicion 2....1 bytes...\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "0001-0002-falla: Error al grabar la parte en el fichero temporal: Bad file "
            "descriptor\n");
  EXPECT_EQ(almacen.en_curso.at(0).partes.faltan, 2);
  close(pf1);
  pf1 = bueno;
  Pasar(Cabecera(2, 2, "falla") + "c");
  EXPECT_EQ(Pasar(Cabecera(1, 2, "falla") + "ab"),
            "T:0001|S:0002|Nom:falla|0/2|MxPrt:2|Fltn:1|\n"
            "NO LA TENGO,posicion 0....2 bytes...\n0001-0002-falla: Guardado sin errores de "
            "nuevo.\nCompletado!\n");
  EXPECT_EQ(LeerFichero("0001-0002-falla"), "abc");
}

// A last part first, placed with a part size left by another file, is moved on completion
// even when it landed past the file's end.
TEST_F(AlmacenTest, LaUltimaParteAdelantadaNoDejaColaNiHuecos) {
  Pasar(Cabecera(1, 5, "previo") + std::string(1000, 'p'));
  EXPECT_EQ(Pasar(Cabecera(3, 3, "corto") + "CC"),
            "T:0001|S:0002|Nom:corto|2/3|MxPrt:1000|Fltn:4|\n"
            "TotPart:3|MaxTAMprt:1000|TAMprt:3000\n"
            "NO LA TENGO,posicion 2000....2 bytes...\n");
  Pasar(Cabecera(1, 3, "corto") + "AAAA");
  EXPECT_EQ(Pasar(Cabecera(2, 3, "corto") + "BBBB"),
            "T:0001|S:0002|Nom:corto|1/3|MxPrt:4|Fltn:1|\n"
            "NO LA TENGO,posicion 4....4 bytes...\n"
            "Ultima parte recolocada,posicion 8....2 bytes...\nCompletado!\n");
  EXPECT_EQ(LeerFichero("0001-0002-corto"), "AAAABBBBCC");
}

// Once the file's own size is known, a last part goes where it belongs even when the loop's
// part size has since come from another file's datagram.
TEST_F(AlmacenTest, LaUltimaParteUsaElTamanoDeSuFichero) {
  Pasar(Cabecera(1, 2, "propio") + "12345");
  ASSERT_EQ(std::filesystem::create_directory("0001-0002-otro"), true);
  Pasar(Cabecera(1, 9, "otro") + "zzz");  // answered as stored, but sets the part size to 3
  EXPECT_EQ(estado.tamparte, 3);
  EXPECT_EQ(Pasar(Cabecera(2, 2, "propio") + "67"),
            "T:0001|S:0002|Nom:propio|1/2|MxPrt:3|Fltn:1|\n"
            "NO LA TENGO,posicion 5....2 bytes...\nCompletado!\n");
  EXPECT_EQ(LeerFichero("0001-0002-propio"), "1234567");
}

// A part without bytes that is not the last cannot belong to a file of more parts: refused, it
// places nothing, and the file completes exact once its true first part comes. A file of one
// empty part is still a file.
TEST_F(AlmacenTest, UnaParteVaciaQueNoEsLaUltimaNoColocaLasDemas) {
  EXPECT_EQ(Pasar(Cabecera(1, 3, "vacia")),
            "T:0001|S:0002|Nom:vacia|0/3|MxPrt:0|Fltn:0|\n"
            "Parte 0/3 vacia sin ser la ultima, descartada.\n");
  Pasar(Cabecera(2, 3, "vacia") + std::string(100, 'b'));
  Pasar(Cabecera(3, 3, "vacia") + std::string(50, 'c'));
  EXPECT_FALSE(std::filesystem::exists("0001-0002-vacia"));
  Pasar(Cabecera(1, 3, "vacia") + std::string(100, 'a'));
  EXPECT_EQ(LeerFichero("0001-0002-vacia"),
            std::string(100, 'a') + std::string(100, 'b') + std::string(50, 'c'));
  Pasar(Cabecera(1, 1, "nada"));
  EXPECT_TRUE(std::filesystem::exists("0001-0002-nada"));
  EXPECT_EQ(std::filesystem::file_size("0001-0002-nada"), 0u);
}

TEST_F(AlmacenTest, UnEnlaceConElNombreDelTemporalNoSeSigue) {
  std::string fuera = dir + "-fuera";
  { std::ofstream(fuera) << "intacto"; }
  std::filesystem::create_symlink(fuera, "0001-0002-enlace.tmp");
  Pasar(Cabecera(1, 2, "enlace") + "datos");
  VolcarFicheros(almacen, salida);
  EXPECT_EQ(LeerFichero(fuera), "intacto");
  EXPECT_EQ(LeerFichero("0001-0002-enlace.tmp"), "datos");
  std::filesystem::remove(fuera);
}

TEST_F(AlmacenTest, UnNombreDeLongitudMaximaValeYUnoMasSeRechaza) {
  std::string largo(kMaxIdentidad - 10, 'n');
  Pasar(Cabecera(1, 1, "").substr(0, offsetof(::Cabecera, nombre)) + largo + '\0');
  EXPECT_TRUE(std::filesystem::exists("0001-0002-" + largo));
  EXPECT_EQ(Pasar(Cabecera(1, 1, "").substr(0, offsetof(::Cabecera, nombre)) + largo + "m" + '\0'),
            "T:0001|S:0002|Nom:" + largo + "m|0/1|MxPrt:0|Fltn:0|\nNombre demasiado largo (" +
                std::to_string(kMaxIdentidad + 1) + " caracteres), descartado.\n");
}

// More files in progress than write buffers, their parts interleaved: the buffers go from file
// to file, and every file is its content. Then, with new versions taken, more stored files than
// are kept open for comparing: the same content is answered as stored, other content starts a
// new version.
TEST_F(AlmacenTest, MasFicherosQueBuffersYMasGrabadosQueAbiertos) {
  almacen.opciones.maximo = 40;
  almacen.opciones.actualizar = true;
  auto contenido = [](int n, char v) {
    return std::string(300, static_cast<char>('A' + n % 26 + v));
  };
  for (uint32_t parte = 1; parte <= 3; ++parte)
    for (int n = 0; n < 40; ++n)
      Pasar(Cabecera(parte, 3, "m" + std::to_string(n)) +
            contenido(n, 0).substr((parte - 1) * 100, 100));
  for (int n = 0; n < 40; ++n)
    EXPECT_EQ(LeerFichero("0001-0002-m" + std::to_string(n)), contenido(n, 0)) << n;
  almacen.opciones.silencioso = true;
  for (int n = 0; n < 20; ++n)
    EXPECT_EQ(Pasar(Cabecera(2, 3, "m" + std::to_string(n)) + contenido(n, 0).substr(100, 100)),
              "0001-0002-m" + std::to_string(n) + ": Ya grabado antes...\n");
  EXPECT_EQ(Pasar(Cabecera(2, 3, "m3") + std::string(100, '#')),
            "0001-0002-m3: Nueva version del fichero grabado: se recibe de nuevo.\n"
            "0001-0002-m3: Empezado con 3 partes de 100 bytes.\n");
}

// Only a whole record of its file is read back: cut at any byte, without a line, with two lines
// swapped or grown past any record, it is refused. One that names its sender resumes only that
// sender's version; one that names none, any.
TEST_F(AlmacenTest, SoloUnRegistroEnteroYDeSuEmisorSeLee) {
  almacen.opciones.reanudar = true;
  for (uint32_t parte : {1u, 3u}) Pasar(Cabecera(parte, 5, "r") + std::string(100, 'r'));
  GuardarFicherosEnCurso(almacen, salida);
  FicheroEnCurso &f = almacen.en_curso.at(0);
  const std::string texto = LeerFichero(NombreRegistro(f.raiz));
  int32_t leidas = 0;
  auto leer = [&](const std::string &registro, const sockaddr_storage &emisor) {
    std::ofstream(NombreRegistro(f.raiz), std::ios::trunc) << registro;
    FicheroEnCurso g;
    g.old_nombre = g.apodo = g.raiz = f.raiz;
    g.disposicion.totpartes = 5;
    EmpezarPartes(g.partes, 5);
    g.emisor = emisor;
    bool leido = LeerRegistro(g, f.pf1);
    leidas = Recibidas(g.partes);
    return leido;
  };
  sockaddr_storage ninguno{}, uno{}, otro{};
  for (auto [direccion, ip] : {std::pair{&uno, "192.0.2.7"}, std::pair{&otro, "192.0.2.8"}}) {
    direccion->ss_family = AF_INET;
    inet_pton(AF_INET, ip, &reinterpret_cast<sockaddr_in *>(direccion)->sin_addr);
  }
  EXPECT_TRUE(leer(texto, otro));
  for (std::size_t largo = 0; largo < texto.size(); ++largo)
    EXPECT_FALSE(leer(texto.substr(0, largo), ninguno)) << largo;
  std::vector<std::string> lineas;
  std::istringstream entrada(texto);
  for (std::string linea; std::getline(entrada, linea);) lineas.push_back(linea + "\n");
  for (std::size_t i = 0; i + 1 < lineas.size(); ++i) {
    std::string sin, cambiado;
    for (std::size_t j = 0; j < lineas.size(); ++j) {
      sin += j == i ? "" : lineas[j];
      cambiado += lineas[j == i ? i + 1 : j == i + 1 ? i : j];
    }
    EXPECT_FALSE(leer(sin, ninguno) || leer(cambiado, ninguno)) << i;
  }
  EXPECT_FALSE(leer(texto + std::string(3 << 20, '1'), ninguno));
  // as earlier receivers wrote it: a character per part, with and without the last part's time
  std::string tres = std::regex_replace(texto, std::regex("recibidas 4"), "recibidas 3");
  tres.replace(tres.find("\na0\n"), 4, "\n10100\n");
  std::string dos = std::regex_replace(tres, std::regex("recibidas 3\n(.*\n)progreso [0-9]+\n"),
                                       "recibidas 2\n$1");
  EXPECT_TRUE(leer(tres, ninguno) && leidas == 2 && leer(dos, ninguno) && leidas == 2) << dos;
  f.emisor = uno;
  GuardarFicherosEnCurso(almacen, salida);
  const std::string con_emisor = LeerFichero(NombreRegistro(f.raiz));
  EXPECT_EQ(EmisorDelRegistro(f.raiz), "192.0.2.7");
  EXPECT_TRUE(leer(con_emisor, uno));
  EXPECT_FALSE(leer(con_emisor, otro));
  // a later save adds a line for its new part; cut anywhere, or with a byte changed, the line
  // is left out and the rest still holds
  std::ofstream(NombreRegistro(f.raiz), std::ios::trunc) << con_emisor;
  Pasar(Cabecera(5, 5, "r") + std::string(60, 'r'));
  GuardarFicherosEnCurso(almacen, salida);
  const std::string anadido = LeerFichero(NombreRegistro(f.raiz));
  ASSERT_EQ(anadido.substr(0, con_emisor.size()), con_emisor);
  EXPECT_TRUE(leer(anadido, uno) && leidas == 3);
  for (std::size_t largo = con_emisor.size(); largo < anadido.size(); ++largo) {
    std::string cambiado = anadido;
    cambiado[largo] ^= 1;
    EXPECT_TRUE(leer(anadido.substr(0, largo), uno) && leidas == 2) << largo;
    EXPECT_TRUE(leer(cambiado, uno) && leidas == 2) << largo;
  }
}

}  // namespace
