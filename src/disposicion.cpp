#include "disposicion.h"

#include "en_curso.h"
#include "informes.h"

// Another layout than the file in progress: another part count, or a part that cannot be of
// its part size.
static bool OtraDisposicion(const FicheroEnCurso &f, const DatagramaActual &actual, int32_t largo) {
  if (actual.totpartes != f.totpartes) return true;
  int32_t propio = f.tamparte_propio;
  bool es_ultima = actual.parteactual == f.totpartes - 1;
  return propio != kTamParteDesconocido && (es_ultima ? largo > propio : largo != propio);
}

// Of the layout that the file had before its sender changed it.
static bool DeLaDisposicionAnterior(const FicheroEnCurso &f, const DatagramaActual &actual,
                                    int32_t largo) {
  if (f.totpartes_anterior == 0 || actual.totpartes != f.totpartes_anterior) return false;
  int32_t anterior = f.tamparte_anterior;
  bool es_ultima = actual.parteactual == actual.totpartes - 1;
  return anterior == kTamParteDesconocido || (es_ultima ? largo <= anterior : largo == anterior);
}

// Of the layout of the datagram of another layout refused just before.
static bool ComoLaPropuesta(const FicheroEnCurso &f, const DatagramaActual &actual, int32_t largo) {
  if (f.totpartes_propuesta == 0 || actual.totpartes != f.totpartes_propuesta) return false;
  int32_t propuesto = f.tamparte_propuesto;
  bool es_ultima = actual.parteactual == actual.totpartes - 1;
  return propuesto == kTamParteDesconocido || (es_ultima ? largo <= propuesto : largo == propuesto);
}

static void Proponer(FicheroEnCurso &f, const DatagramaActual &actual,
                     const unsigned char *contenido, int32_t largo) {
  f.totpartes_propuesta = actual.totpartes;
  bool es_ultima = actual.parteactual == actual.totpartes - 1;
  f.tamparte_propuesto = es_ultima ? kTamParteDesconocido : largo;
  f.parte_propuesta = actual.parteactual;
  f.contenido_propuesto.assign(contenido, contenido + largo);
}

int SeguirLaDisposicion(AlmacenFicheros &almacen, int cual, const DatagramaActual &actual,
                        int32_t tamparte, const unsigned char *contenido, int32_t largo,
                        FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  bool propuesta = ComoLaPropuesta(f, actual, largo);
  // a proposal lasts one datagram of the file
  int32_t parte = f.parte_propuesta;
  f.totpartes_propuesta = 0;
  f.parte_propuesta = -1;
  if (!OtraDisposicion(f, actual, largo)) return cual;
  bool cuenta = actual.totpartes != f.totpartes;
  const std::string &id = f.old_nombre;
  bool anterior = DeLaDisposicionAnterior(f, actual, largo);
  if (!propuesta || anterior) {
    if (!anterior) Proponer(f, actual, contenido, largo);
    if (cuenta)
      Rechazar(almacen, id, salida,
               "Total de partes %d distinto del fichero en curso (%d), descartado.\n",
               actual.totpartes, f.totpartes);
    else
      Rechazar(almacen, id, salida,
               "Parte de %d bytes distinta de las del fichero en curso (%d), descartada.\n", largo,
               f.tamparte_propio);
    return -1;
  }
  OlvidarRepeticiones(almacen, id, salida);
  if (cuenta)
    Informar(almacen, id, salida,
             "Total de partes %d distinto del fichero en curso (%d): el fichero ha cambiado, se "
             "empieza de nuevo.\n",
             actual.totpartes, f.totpartes);
  else
    Informar(almacen, id, salida,
             "Parte de %d bytes distinta de las del fichero en curso (%d): el fichero ha cambiado, "
             "se empieza de nuevo.\n",
             largo, f.tamparte_propio);
  int32_t totpartes = f.totpartes, tamano = f.tamparte_propio;
  std::vector<unsigned char> propuesto = std::move(f.contenido_propuesto);
  DescartarFichero(almacen, static_cast<std::size_t>(cual));
  cual = EmpezarFichero(almacen, actual, tamparte, largo, salida);
  FicheroEnCurso &nuevo = almacen.en_curso[static_cast<std::size_t>(cual)];
  nuevo.totpartes_anterior = totpartes;
  nuevo.tamparte_anterior = tamano;
  nuevo.parte_propuesta = parte;
  nuevo.contenido_propuesto = std::move(propuesto);
  return cual;
}
