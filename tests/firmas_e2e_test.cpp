// Signed descriptions with the built programs: the sender's keys, its descriptions on every
// pass, and the receiver's answers to descriptions signed, forged, damaged, reordered or of
// another type on the side channel.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <sodium.h>

#include <fstream>
#include <string>
#include <vector>

#include "claves.h"
#include "e2e.h"
#include "lateral.h"

namespace {

class Firmas : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    base = aparte + "/k";
    Proceso generar = Lanzar({EMISOR_PATH, "--generar-claves", base});
    ASSERT_EQ(EsperarFin(generar), 0) << generar.error;
    salida_generar = generar.salida;
  }
  // A description's datagram for parts primera.. of a file of totpartes parts of 1000 bytes
  // whose content is the byte relleno, signed with secreta.
  std::string Describir(const std::string &nombre, int32_t totpartes, uint64_t sello,
                        int32_t primera, int32_t cuantos, const unsigned char *secreta,
                        char relleno = 'a') {
    FicheroDescrito f{1, 2, nombre, totpartes, 1000, totpartes * 1000LL, sello};
    std::string resumenes(static_cast<std::size_t>(cuantos) * kTamResumen, '\0'),
        parte(1000, relleno), datagrama(kTamMaxLateral, '\0');
    auto bytes = [](std::string &s) { return reinterpret_cast<unsigned char *>(s.data()); };
    for (int32_t i = 0; i < cuantos; ++i)
      ResumirParte(bytes(parte), parte.size(), bytes(resumenes) + i * kTamResumen);
    datagrama.resize(
        CodificarDescripcion(f, primera, cuantos, bytes(resumenes), secreta, bytes(datagrama)));
    return datagrama;
  }
  Destino Lateral() const { return {destino.grupo, static_cast<uint16_t>(destino.puerto + 1)}; }
  std::string base, salida_generar;
};

// The pair's files and the lines of every key or side port that cannot be used, before any
// datagram.
TEST_F(Firmas, ClavesYSusErrores) {
  EXPECT_EQ(salida_generar, "Claves escritas: " + base +
                                ".clave (secreta, solo para el emisor) y " + base +
                                ".pub (para los receptores)\n");
  struct stat clave, publica;
  ASSERT_EQ(stat((base + ".clave").c_str(), &clave) | stat((base + ".pub").c_str(), &publica), 0);
  EXPECT_EQ(clave.st_mode & 07777, 0600u);
  EXPECT_EQ(publica.st_mode & 07777, 0644u);
  std::ofstream(aparte + "/basura.pub") << "ed25519-publica no es base64\n";
  mkdir((aparte + "/vacio").c_str(), 0700);
  const std::string pruebe = "Pruebe 'client --help' para mas informacion.\n", g = destino.grupo;
  struct Caso {
    std::vector<std::string> argumentos;
    std::string error;
  } casos[] = {
      {{EMISOR_PATH, "--generar-claves", base},
       "Ya existe " + base + ".clave: no se escribe encima\n"},
      {{EMISOR_PATH, "--generar-claves", aparte + "/no/k"},
       "No se puede escribir " + aparte + "/no/k.clave: No such file or directory\n"},
      {{EMISOR_PATH, "--firmar", base + ".pub", g, "5000", base + ".pub"},
       "Clave no valida: " + base + ".pub\n"},
      {{EMISOR_PATH, "--firmar", base + ".clave", g, "65535", base + ".pub"},
       "Con el puerto 65535, el lateral se da con --puerto-lateral\nPruebe 'emisor --help' para "
       "mas informacion.\n"},
      {{CLIENT_PATH, "--clave", base + ".clave", g, "5000", "2"},
       "Clave no valida: " + base + ".clave\n" + pruebe},
      {{CLIENT_PATH, "--clave", aparte + "/basura.pub", g, "5000", "2"},
       "Clave no valida: " + aparte + "/basura.pub\n" + pruebe},
      {{CLIENT_PATH, "--clave", aparte + "/nada.pub", g, "5000", "2"},
       "No se puede leer la clave " + aparte + "/nada.pub: No such file or directory\n" + pruebe},
      {{CLIENT_PATH, "--clave", aparte + "/vacio", g, "5000", "2"},
       "Ninguna clave publica (.pub) en " + aparte + "/vacio\n" + pruebe},
      {{CLIENT_PATH, "--clave", base + ".pub", g, "65535", "2"},
       "Con el puerto 65535, el lateral se da con --puerto-lateral\n" + pruebe},
      {{CLIENT_PATH, "--puerto-lateral", "0", g, "5000", "2"},
       "Puerto lateral no valido: 0\n" + pruebe},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.error);
    Proceso proceso = Lanzar(caso.argumentos, aparte);
    EXPECT_EQ(EsperarFin(proceso), 1);
    EXPECT_EQ(proceso.error, caso.error);
    EXPECT_EQ(proceso.salida, "");
  }
}

// Each datagram alone, in order, with the lines it gives on the quiet log: the first of a
// version is told, its repetitions, older versions and other types are not; forged and damaged
// ones are refused naming their sender; the status file counts both.
TEST_F(Firmas, CadaDescripcionSeComprueba) {
  ClaveSecreta nuestra, ajena;
  std::string problema;
  ASSERT_TRUE(LeerClaveSecreta((base + ".clave").c_str(), nuestra, problema)) << problema;
  crypto_sign_keypair(ajena.data() + kTamSemilla, ajena.data());
  // another key's signature under our key's id
  std::string suplantada = Describir("falsa", 3, 5, 0, 3, ajena.data());
  suplantada.replace(1, kTamIdClave, reinterpret_cast<char *>(nuestra.data()) + kTamSemilla,
                     kTamIdClave);
  std::string tocada = Describir("doc2", 3, 5, 0, 3, nuestra.data());
  tocada[tocada.size() - kTamFirma - 1] ^= 1;
  const std::string de = " (emisor 127.0.0.1).\n";
  struct Paso {
    std::string datagrama, lineas;
  } pasos[] = {
      {Describir("doc", 3, 5, 0, 3, nuestra.data()),
       "0001-0002-doc: Descripcion firmada de 3 partes" + de},
      {Describir("doc", 3, 5, 0, 3, nuestra.data()), ""},
      {Describir("doc", 3, 4, 0, 3, nuestra.data(), 'b'), ""},
      {Describir("otro", 3, 5, 0, 3, ajena.data()),
       "0001-0002-otro: Descripcion firmada con una clave desconocida, descartada" + de},
      {suplantada, "0001-0002-falsa: Descripcion con firma falsa, descartada" + de},
      {tocada, "0001-0002-doc2: Descripcion con firma falsa, descartada" + de},
      {Describir("doc", 3, 5, 0, 3, nuestra.data()).substr(0, 50),
       "Descripcion no valida de 50 bytes, descartada" + de},
      {std::string("\x02reparacion"), ""},
      {Describir("grande", 200, 5, 170, 30, nuestra.data()),
       "0001-0002-grande: Descripcion firmada de 200 partes" + de},
      {Describir("grande", 200, 5, 0, 80, nuestra.data()), ""},
      {Describir("doc", 3, 9, 0, 3, nuestra.data(), 'c'),
       "0001-0002-doc: Descripcion firmada de 3 partes" + de},
  };
  ASSERT_NO_FATAL_FAILURE(Arrancar({"-q", "--clave", base + ".pub", "-e", aparte + "/estado"}));
  ASSERT_TRUE(EsperarUnion(destino, 5, 2));
  std::string esperado = Inicio();
  for (const Paso &paso : pasos) {
    Enviar(Lateral(), paso.datagrama);
    esperado += paso.lineas;
    EXPECT_TRUE(LeerHastaTexto(cliente, esperado, 5)) << cliente.salida;
  }
  Escuchar(cliente, 0.3);
  Terminar(cliente);
  EXPECT_EQ(cliente.salida, esperado);
  std::string estado = LeerFichero(aparte + "/estado");
  EXPECT_NE(estado.find("  \"firmados\": 2,\n  \"descripciones_falsas\": 4,\n  \"partes_falsas\": "
                        "0,\n  \"en_curso\""),
            std::string::npos)
      << estado;
}

// The sender describes each file before every send, on the port given to both; the receiver
// tells a version once, a changed file as a new one, and, without the quiet log, names the file
// of each forged datagram on its line.
TEST_F(Firmas, ElEmisorDescribeCadaEnvio) {
  std::string fichero = aparte + "/f";
  std::ofstream(fichero) << ContenidoAleatorio(199 * 1428 + 100, 39);
  std::string lateral = std::to_string(destino.puerto + 7);
  auto enviar = [&](const std::string &clave, const std::string &vueltas) {
    Proceso emisor =
        Lanzar({EMISOR_PATH, "-i", "127.0.0.1", "--firmar", clave, "--puerto-lateral", lateral,
                "-v", vueltas, destino.grupo, std::to_string(destino.puerto), fichero});
    EXPECT_EQ(EsperarFin(emisor), 0) << emisor.error;
    Escuchar(cliente, 0.3);
  };
  auto descripciones = [&]() {
    std::string lineas;
    for (std::size_t desde = 0, fin; (fin = cliente.salida.find('\n', desde)) != std::string::npos;
         desde = fin + 1)
      if (cliente.salida.find("Descripcion", desde) < fin)
        lineas += cliente.salida.substr(desde, fin + 1 - desde);
    return lineas;
  };
  const std::string linea = "0001-0002-f: Descripcion firmada de 200 partes (emisor 127.0.0.1).\n";
  ASSERT_NO_FATAL_FAILURE(Arrancar({"-q", "--clave", base + ".pub", "--puerto-lateral", lateral}));
  ASSERT_TRUE(EsperarUnion(destino, 5, 2));
  enviar(base + ".clave", "2");
  std::ofstream(fichero, std::ios::in | std::ios::out) << "otra";
  enviar(base + ".clave", "1");
  Terminar(cliente);
  EXPECT_EQ(descripciones(), linea + linea);

  Proceso generar = Lanzar({EMISOR_PATH, "--generar-claves", aparte + "/otra"});
  ASSERT_EQ(EsperarFin(generar), 0);
  cliente = Lanzar({CLIENT_PATH, "--clave", base + ".pub", "--puerto-lateral", lateral,
                    destino.grupo, std::to_string(destino.puerto), "1"},
                   dir);
  ASSERT_TRUE(EsperarUnion(destino, 5, 2));
  enviar(aparte + "/otra.clave", "1");
  Terminar(cliente);
  std::string falsa =
      "0001-0002-f: Descripcion firmada con una clave desconocida, descartada "
      "(emisor 127.0.0.1).\n";
  EXPECT_EQ(descripciones(), falsa + falsa + falsa);
}

}  // namespace
