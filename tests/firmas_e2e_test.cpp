// Signed descriptions with the built programs: the sender's keys, its descriptions on every
// pass, and the receiver's answers to descriptions signed, forged, damaged, reordered or of
// another type on the side channel.
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_EQ(generar.salida, "Claves escritas: " + base +
                                  ".clave (secreta, solo para el emisor) y " + base +
                                  ".pub (para los receptores)\n");
    std::string problema;
    ASSERT_TRUE(LeerClaveSecreta((base + ".clave").c_str(), nuestra, problema)) << problema;
    crypto_sign_keypair(ajena.data() + kTamSemilla, ajena.data());
  }
  // A description's datagram for parts primera.. of a file of totpartes parts of 1000 bytes,
  // each digest the byte relleno over, signed with our key or the one given.
  std::string Describir(const std::string &nombre, uint64_t sello, char relleno = 'a',
                        const unsigned char *secreta = nullptr, int32_t totpartes = 3,
                        int32_t primera = 0, int32_t cuantos = 3) {
    FicheroDescrito f{1, 2, nombre, totpartes, 1000, totpartes * 1000LL, sello};
    std::string resumenes(cuantos * kTamResumen, relleno), datagrama(kTamMaxLateral, '\0');
    auto bytes = [](std::string &s) { return reinterpret_cast<unsigned char *>(s.data()); };
    datagrama.resize(CodificarDescripcion(f, primera, cuantos, bytes(resumenes),
                                          secreta ? secreta : nuestra.data(), bytes(datagrama)));
    return datagrama;
  }
  Destino Lateral() const { return {destino.grupo, static_cast<uint16_t>(destino.puerto + 1)}; }
  std::string base;
  ClaveSecreta nuestra, ajena;
};

// The pair's files and the lines of every key or side port that cannot be used, before any
// datagram.
TEST_F(Firmas, ClavesYSusErrores) {
  auto modo = [](const std::string &ruta) {
    struct stat datos;
    return stat(ruta.c_str(), &datos) == 0 ? datos.st_mode & 07777 : 0u;
  };
  EXPECT_EQ(modo(base + ".clave") * 010000 + modo(base + ".pub"), 0600u * 010000 + 0644u);
  mkdir((aparte + "/vacio").c_str(), 0700);
  const std::string grande = aparte + "/grande", partes = std::to_string((1 << 22) + 1);
  std::ofstream(grande).seekp(1 << 22) << 'x';
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
      {{EMISOR_PATH, "--firmar", base + ".clave", "-p", "1", g, "5000", grande},
       "El fichero " + grande + " tiene " + partes +
           " partes, mas de 50000: los receptores "
           "necesitan --max-partes " +
           partes + "\nEl fichero " + grande + " tiene " + partes +
           " partes: con --firmar, 4194304 como mucho\n"},
      {{CLIENT_PATH, "--clave", base + ".clave", g, "5000", "2"},
       "Clave no valida: " + base + ".clave\n" + pruebe},
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
    Proceso proceso = Lanzar(caso.argumentos, aparte);
    EXPECT_EQ(EsperarFin(proceso), 1);
    EXPECT_EQ(proceso.error, caso.error);
  }
}

// Each datagram alone, in order, with the lines it gives on the quiet log: the first of a
// version is told, its repetitions, older versions and other types are not; forged and damaged
// ones are refused naming their sender; the status file counts both.
TEST_F(Firmas, CadaDescripcionSeComprueba) {
  // another key's signature under our key's id
  std::string suplantada = Describir("falsa", 5, 'a', ajena.data());
  suplantada.replace(1, kTamIdClave, reinterpret_cast<char *>(nuestra.data()) + kTamSemilla,
                     kTamIdClave);
  // a byte changed at i: a digest's still decodes, a length's or a layout's does not
  auto tocada = [&](const std::string &nombre, std::size_t i, char byte) {
    return Describir(nombre, 5).replace(i, 1, 1, byte);
  };
  const std::string de = " (emisor 127.0.0.1).\n";
  struct Paso {
    std::string datagrama, lineas;
  } pasos[] = {
      {Describir("doc", 5), "0001-0002-doc: Descripcion firmada de 3 partes" + de},
      {Describir("doc", 5), ""},
      {Describir("doc", 4, 'b'), ""},
      {Describir("doc", 7), ""},
      {Describir("otro", 5, 'a', ajena.data()),
       "0001-0002-otro: Descripcion firmada con una clave desconocida, descartada" + de},
      {suplantada, "0001-0002-falsa: Descripcion con firma falsa, descartada" + de},
      {tocada("doc2", 60, 'z'), "0001-0002-doc2: Descripcion con firma falsa, descartada" + de},
      {tocada("doc3", 13, 32), "Descripcion no valida de 160 bytes, descartada" + de},
      {tocada("doc4", 33, 0xb9), "Descripcion no valida de 160 bytes, descartada" + de},
      {Describir("doc", 5).substr(0, 50), "Descripcion no valida de 50 bytes, descartada" + de},
      {std::string("\x02reparacion"), ""},
      {Describir("grande", 5, 'a', nullptr, 200, 170, 30),
       "0001-0002-grande: Descripcion firmada de 200 partes" + de},
      {Describir("grande", 5, 'a', nullptr, 200, 0, 80), ""},
      {Describir("doc", 9, 'c'), "0001-0002-doc: Descripcion firmada de 3 partes" + de},
  };
  ASSERT_NO_FATAL_FAILURE(Arrancar({"-q", "--clave", base + ".pub", "-e", aparte + "/estado"}));
  ASSERT_TRUE(EsperarUnion(destino, 5, 2));
  std::string esperado = Inicio();
  for (const Paso &paso : pasos) {
    Enviar(Lateral(), paso.datagrama);
    esperado += paso.lineas;
    EXPECT_TRUE(LeerHastaTexto(cliente, esperado, 5)) << cliente.salida;
  }
  Terminar(cliente);
  EXPECT_EQ(cliente.salida, esperado);
  EXPECT_NE(LeerFichero(aparte + "/estado")
                .find("  \"firmados\": 2,\n  \"descripciones_falsas\""
                      ": 6,\n  \"partes_falsas\": 0,\n  \"sin_descripcion\": 0,\n  \"en_curso\""),
            std::string::npos);
}

// The sender describes each file before every send, on the port given to both; the receiver
// tells a version once and a changed file as a new one, and, without the quiet log, names the
// file of each forged datagram on its line, before the parts' summaries.
TEST_F(Firmas, ElEmisorDescribeCadaEnvio) {
  std::string fichero = aparte + "/f", lateral = std::to_string(destino.puerto + 7);
  std::ofstream(fichero) << ContenidoAleatorio(199 * 1428 + 100, 39);
  auto recibir = [&](const std::vector<std::string> &opciones) {
    std::vector<std::string> argumentos = {CLIENT_PATH, "--clave", base + ".pub",
                                           "--puerto-lateral", lateral};
    argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
    cliente = Lanzar(argumentos, dir);
    EXPECT_TRUE(EsperarUnion(destino, 5, 2));
  };
  auto enviar = [&](const std::string &clave, const std::string &vueltas) {
    Proceso emisor =
        Lanzar({EMISOR_PATH, "-i", "127.0.0.1", "--firmar", clave, "--puerto-lateral", lateral,
                "-v", vueltas, destino.grupo, std::to_string(destino.puerto), fichero});
    EXPECT_EQ(EsperarFin(emisor), 0) << emisor.error;
    Escuchar(cliente, 0.3);
  };
  const std::string puerto = std::to_string(destino.puerto);
  recibir({"-q", destino.grupo, puerto, "1"});
  enviar(base + ".clave", "2");
  std::ofstream(fichero, std::ios::in | std::ios::out) << "otra";
  enviar(base + ".clave", "1");
  Terminar(cliente);
  const std::string linea = "0001-0002-f: Descripcion firmada de 200 partes (emisor 127.0.0.1).\n";
  EXPECT_EQ(cliente.salida, "Recibiendo " + destino.grupo + ", puerto " + puerto + ", modo 1, en " +
                                dir + "\n" + linea + linea);

  Proceso generar = Lanzar({EMISOR_PATH, "--generar-claves", aparte + "/otra"});
  ASSERT_EQ(EsperarFin(generar), 0);
  recibir({destino.grupo, puerto, "1"});
  enviar(aparte + "/otra.clave", "1");
  Terminar(cliente);
  std::string falsa =
      "0001-0002-f: Descripcion firmada con una clave desconocida, descartada "
      "(emisor 127.0.0.1).\n";
  EXPECT_EQ(cliente.salida.substr(0, 3 * falsa.size()), falsa + falsa + falsa);
  EXPECT_EQ(ContarResumenes(cliente.salida), 200u);
}

// The store takes only signed parts: one before its description waits for the next pass (told
// once), a forged one with the sender's own address is refused, and the file completes with the
// signed bytes.
TEST_F(Firmas, SoloSeGuardanLasPartesFirmadas) {
  const std::string contenido = ContenidoAleatorio(3000, 40), falso(1000, 'x');
  std::string resumenes(3 * kTamResumen, '\0'), descripcion(kTamMaxLateral, '\0');
  auto bytes = [](const std::string &t) {
    return reinterpret_cast<unsigned char *>(const_cast<char *>(t.data()));
  };
  for (int i = 0; i < 3; ++i)
    ResumirParte(bytes(contenido) + i * 1000, 1000, bytes(resumenes) + i * kTamResumen);
  descripcion.resize(CodificarDescripcion({1, 2, "doc", 3, 1000, 3000, 1}, 0, 3, bytes(resumenes),
                                          nuestra.data(), bytes(descripcion)));
  auto parte = [&](uint32_t i, const std::string &c) { return Datagrama(1, 2, i, 3, "doc", c); };
  ASSERT_NO_FATAL_FAILURE(Arrancar({"-q", "--clave", base + ".pub"}));
  ASSERT_TRUE(EsperarUnion(destino, 5, 2));
  const std::string id = "0001-0002-doc: ";
  struct Paso {
    bool lateral;
    std::string datagrama, lineas;
  } pasos[] = {
      {false, parte(1, contenido.substr(0, 1000)),
       id + "Sin descripcion firmada: no se recibe hasta que llegue.\n"},
      {true, descripcion, id + "Descripcion firmada de 3 partes (emisor 127.0.0.1).\n"},
      {false, parte(2, falso),
       id + "Parte 1/3 que no coincide con su descripcion firmada (emisor 127.0.0.1), "
            "descartada.\n"},
      {false, parte(1, contenido.substr(0, 1000)), id + "Empezado con 3 partes de 1000 bytes.\n"},
      {false, parte(2, contenido.substr(1000, 1000)), ""},
      {false, parte(3, contenido.substr(2000)), id + "Completado!\n"},
  };
  std::string esperado = Inicio();
  for (const Paso &paso : pasos) {
    Enviar(paso.lateral ? Lateral() : destino, paso.datagrama);
    esperado += paso.lineas;
    EXPECT_TRUE(LeerHastaTexto(cliente, esperado, 5)) << cliente.salida;
  }
  Terminar(cliente);
  EXPECT_EQ(cliente.salida, esperado);
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-doc"), contenido);
}

// A stranger with the sender's own address sends forged parts of the same name and layout, one
// for about every ten of the real carousel's, and descriptions signed with another key: with the
// key nothing forged is stored; without it, the file stored is not the one sent.
TEST_F(Firmas, UnExtranoConLaDireccionDelEmisorNoColaNada) {
  const std::string fichero = aparte + "/imagen", contenido = ContenidoAleatorio(300 * 1000, 41);
  std::ofstream(fichero) << contenido;
  for (bool con_clave : {true, false}) {
    SCOPED_TRACE(con_clave);
    std::vector<std::string> opciones = {"-q"};
    if (con_clave) opciones = {"-q", "--clave", base + ".pub"};
    ASSERT_NO_FATAL_FAILURE(Arrancar(opciones));
    ASSERT_TRUE(EsperarUnion(destino, 5, con_clave ? 2 : 1));
    Proceso emisor = Lanzar({EMISOR_PATH, "-i", "127.0.0.1", "--firmar", base + ".clave", "-p",
                             "1000", "-r", "2000", "-v", "3", destino.grupo,
                             std::to_string(destino.puerto), fichero});
    // about one forged datagram for every ten of the carousel's 900, while it runs
    for (uint32_t i = 0; i < 90; ++i) {
      Enviar(destino, Datagrama(1, 2, 1 + i * 7 % 300, 300, "imagen", std::string(1000, 'x')));
      if (i % 30 == 0) Enviar(Lateral(), Describir("imagen", 99, 'x', ajena.data(), 300, 0, 80));
      usleep(5000);
    }
    EXPECT_EQ(EsperarFin(emisor, 20), 0) << emisor.error;
    Escuchar(cliente, 0.5);
    Terminar(cliente);
    std::string guardado = LeerFichero(dir + "/0001-0002-imagen");
    if (con_clave)
      EXPECT_EQ(guardado, contenido) << cliente.salida;
    else
      EXPECT_NE(guardado, contenido);
    unlink((dir + "/0001-0002-imagen").c_str());
  }
}

}  // namespace
