#include "borrado.h"

#include <isa-l/erasure_code.h>

void PrepararCodigo(CodigoBorrado &c, int k, int m) {
  c.k = k;
  c.m = m;
  c.matriz.resize(static_cast<std::size_t>((k + m) * k));
  gf_gen_cauchy1_matrix(c.matriz.data(), k + m, k);
  c.tablas.resize(static_cast<std::size_t>(32 * k * m));
  ec_init_tables(k, m, c.matriz.data() + k * k, c.tablas.data());
  c.trabajo.resize(c.tablas.size());
}

void CodificarBloque(CodigoBorrado &c, unsigned char *const *partes,
                     unsigned char *const *reparaciones, int largo) {
  ec_encode_data(largo, c.k, c.m, c.tablas.data(), const_cast<unsigned char **>(partes),
                 const_cast<unsigned char **>(reparaciones));
}

// Only the e missing rows are unknown: the e x e system of e repair rows over them is inverted,
// not the whole k x k one, so that a block costs e^2 k, not k^3.
bool RecuperarBloque(CodigoBorrado &c, unsigned char *const *partes, const int *filas,
                     unsigned char *const *reparaciones, int cuantas, unsigned char *const *salidas,
                     int largo) {
  const int k = c.k;
  int perdidas[kMaxFilasCodigo], presentes[kMaxFilasCodigo], e = 0, p = 0;
  unsigned char *fuentes[kMaxFilasCodigo];
  for (int i = 0; i < k; ++i) {
    if (partes[i] == nullptr)
      perdidas[e++] = i;
    else
      fuentes[p] = partes[i], presentes[p++] = i;
  }
  if (e == 0) return true;
  if (cuantas < e || e > c.m) return false;
  // the repair row r is the sum of A[k + r][j] * part j: the missing ones, moved to one side
  auto a = [&](int r, int j) { return c.matriz[static_cast<std::size_t>((k + filas[r]) * k + j)]; };
  std::vector<unsigned char> sistema(static_cast<std::size_t>(e * e)), inversa(sistema.size());
  for (int r = 0; r < e; ++r)
    for (int j = 0; j < e; ++j) sistema[static_cast<std::size_t>(r * e + j)] = a(r, perdidas[j]);
  if (gf_invert_matrix(sistema.data(), inversa.data(), e) != 0) return false;
  // each missing row, from the parts at hand and the repair rows, in that order of sources
  std::vector<unsigned char> filas_de(static_cast<std::size_t>(e * k));
  for (int i = 0; i < e; ++i) {
    const unsigned char *inv = &inversa[static_cast<std::size_t>(i * e)];
    unsigned char *fila = &filas_de[static_cast<std::size_t>(i * k)];
    for (int s = 0; s < p; ++s) {
      unsigned char suma = 0;
      for (int r = 0; r < e; ++r) suma ^= gf_mul(inv[r], a(r, presentes[s]));
      fila[s] = suma;
    }
    for (int r = 0; r < e; ++r) fila[p + r] = inv[r];
  }
  for (int r = 0; r < e; ++r) fuentes[p + r] = reparaciones[r];
  ec_init_tables(k, e, filas_de.data(), c.trabajo.data());
  ec_encode_data(largo, k, e, c.trabajo.data(), fuentes, const_cast<unsigned char **>(salidas));
  return true;
}
