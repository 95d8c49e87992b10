#include "uso.h"

#include <cstdio>

#include "formato.h"

// A format: the largest part comes from the wire format.
static const char kAyuda[] =
    "Uso: emisor [opciones] <IP Multicast> <Puerto> <fichero>...\n"
    "Envia cada fichero al grupo multicast en partes numeradas, una por datagrama.\n"
    "\n"
    "Opciones:\n"
    "  -t, --tipo HHHH         tipo, 4 cifras hexadecimales (por defecto 0001)\n"
    "  -s, --subtipo HHHH      subtipo, 4 cifras hexadecimales (por defecto 0002)\n"
    "  -n, --nombre NOMBRE     nombre enviado, hasta 31 bytes y sin '/'; solo con un\n"
    "                          fichero (por defecto, el nombre base del fichero)\n"
    "  -p, --tamparte N        bytes de contenido por parte, de 1 a %d (por\n"
    "                          defecto 1428, que viaja sin fragmentos por Ethernet)\n"
    "                          con un grupo IPv4; 1408 con uno IPv6\n"
    "      --ttl N             TTL de los datagramas, de 0 a 255 (por defecto 1)\n"
    "                          (con un grupo IPv6, su limite de saltos)\n"
    "  -i, --interfaz INTERFAZ interfaz de salida, por su nombre (eth1) o por una\n"
    "                          de sus direcciones IPv4 (con un grupo IPv6, solo por\n"
    "                          su nombre)\n"
    "  -r, --ritmo R           limite: datagramas por segundo, o bits por segundo\n"
    "                          con sufijo k, m o g, contando los bytes de cada\n"
    "                          datagrama (por defecto 100m; 0: sin limite)\n"
    "      --sin-limite        enviar tan rapido como se pueda, igual que -r 0\n"
    "      --gso               entregar al nucleo tandas de hasta 43 partes en una\n"
    "                          llamada (receptores en esta maquina, o redes cuya\n"
    "                          tarjeta receptora las junta)\n"
    "  -v, --vueltas N         pasadas sobre el conjunto de ficheros (por defecto 1)\n"
    "      --repetir N         enviar cada fichero N veces seguidas en cada pasada\n"
    "  -c, --carrusel          repetir las pasadas hasta recibir SIGINT o SIGTERM\n"
    "  -o, --orden ORDEN       orden de las partes en cada envio: directo (por\n"
    "                          defecto), inverso o aleatorio\n"
    "      --semilla N         semilla del orden aleatorio y de --perdida (por\n"
    "                          defecto, una al azar)\n"
    "      --perdida P         para pruebas: dejar sin enviar, al azar, esa parte\n"
    "                          de los datagramas (de 0 a 1, o un porcentaje: 1%%)\n"
    "      --firmar CLAVE      enviar en el canal lateral la descripcion firmada de\n"
    "                          cada fichero (las huellas de sus partes) antes de\n"
    "                          cada envio suyo, con la clave secreta CLAVE\n"
    "      --puerto-lateral N  puerto del canal lateral (por defecto, el de los\n"
    "                          datos mas 1)\n"
    "      --fec K:M           enviar en el canal lateral, tras las partes de cada\n"
    "                          fichero, M datagramas de reparacion por cada bloque\n"
    "                          de K partes (K + M hasta 255)\n"
    "      --generar-claves BASE  escribir un par de claves nuevo, BASE.clave\n"
    "                          (secreta) y BASE.pub (publica), y salir\n"
    "  -h, --help              mostrar esta ayuda y salir\n"
    "  -V, --version           mostrar la version y salir\n";

void MostrarAyuda() {
  printf(kAyuda, kTamMaxParte);
}
