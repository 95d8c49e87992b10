#include "ayuda.h"

#include <cstdio>

void MostrarUso(const char *programa) {
  fprintf(stderr, "Version 1.0\nUso: %s <IP Multicast> <Puerto Multicast> <Modo>\n", programa);
  fprintf(stderr, "Modos:\n0 - Solo obtener las  cabeceras e imprimirlas en pantalla\n");
  fprintf(stderr, "2 - Almacenar ficheros\n");
  fprintf(stderr, "Otro - Ver una linea por paquete\n");
}

const char kAyuda[] =
    "Uso: client [opciones] <IP Multicast> <Puerto Multicast> <Modo>\n"
    "Recibe ficheros enviados a un grupo multicast UDP en partes numeradas, una por\n"
    "datagrama, y muestra lo que llega o reconstruye los ficheros.\n"
    "\n"
    "Modos:\n"
    "  0      una linea por datagrama y el volcado de sus primeros 50 bytes\n"
    "  2      una linea por datagrama, y reconstruir los ficheros\n"
    "  otro   solo una linea por datagrama\n"
    "\n"
    "Opciones, delante de los tres argumentos:\n"
    "  -d, --directorio DIR     reconstruir los ficheros en DIR (por defecto, en el\n"
    "                           directorio de trabajo)\n"
    "  -i, --interfaz INTERFAZ  unirse al grupo en esa interfaz, por su nombre (eth1)\n"
    "                           o por una de sus direcciones IPv4 (grupo IPv4) o su\n"
    "                           indice (grupo IPv6)\n"
    "  -s, --fuente DIRECCION   aceptar solo los datagramas de ese emisor; puede\n"
    "                           repetirse\n"
    "  -f, --ficheros N         hasta N ficheros en curso a la vez (de 1 a 1024; por\n"
    "                           defecto 1)\n"
    "  -r, --reanudar           los ficheros en curso sobreviven a un reinicio\n"
    "  -a, --actualizar         recibir de nuevo un fichero ya grabado cuando llega\n"
    "                           otra version suya\n"
    "  -q, --silencioso         una linea por suceso de un fichero, no por datagrama\n"
    "  -x, --al-completar PROG  ejecutar PROG con la ruta de cada fichero completado\n"
    "  -e, --estado FICHERO     mantener en FICHERO el estado del receptor, en JSON\n"
    "  -w, --esperar-red        si falta la interfaz o la ruta al grupo, esperarla en\n"
    "                           vez de terminar\n"
    "      --caducar DURACION   borrar el temporal y el registro de un fichero que no\n"
    "                           esta en curso y lleva DURACION sin cambios (con s, m,\n"
    "                           h o d: 7d), al arrancar y cada hora\n"
    "      --max-partes N       aceptar ficheros de hasta N partes (de 1 a\n"
    "                           2147483647; por defecto 50000)\n"
    "      --clave FICHERO      tomar una parte solo si coincide con la descripcion\n"
    "                           firmada con esa clave publica (o con una de las .pub\n"
    "                           de un directorio), que llega por el canal lateral;\n"
    "                           puede repetirse\n"
    "      --puerto-lateral N   puerto del canal lateral (por defecto, el de los\n"
    "                           datos mas 1)\n"
    "      --reparar            en modo 2, completar los bloques a los que les faltan\n"
    "                           partes con los datagramas de reparacion del canal\n"
    "                           lateral (emisor --fec)\n"
    "  -h, --help               mostrar esta ayuda y salir\n"
    "  -V, --version            mostrar la version y salir\n";
