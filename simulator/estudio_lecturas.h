// The checker's read-backs against the device model in virtual time, many
// random cases at once: what the tests hold the estimate to and what the
// benchmark reports.
#pragma once

#include "clock_link/config_linea.h"
#include "simulator/modelo_aparato.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quarvel::sim {

// What goes wrong with the device in a case.
enum class Falla {
    Ninguna,
    // Changed behind the checker's back once, by up to a second either way.
    Golpe,
    // A share of replies carries a random second.
    SegundoAzar,
    // Each read is late by a random 0 .. 0.9 s.
    LatenciaAzar,
    // From the 15th read-back on, every set is dropped (lost on the line).
    SinPuestas,
};

struct CasoEstudio {
    ModeloAparato::Config aparato;
    // The port's line settings: the checker's limits come from them.
    ConfigLinea linea;
    Falla falla = Falla::Ninguna;
    // The read-back (1-based) before which the knock comes.
    int golpe_en = 0;
    double golpe_s = 0;
    // Fine correction's threshold; none is off.
    std::optional<int> umbral_ms;
};

// A random case: drift within ±`deriva_max`, latency 0 .. `latencia_max_s`,
// a baud from 1200 to 115200, jitter up to a byte, a set within a ms.
CasoEstudio caso_al_azar(std::uint32_t semilla, double deriva_max, double latencia_max_s,
                         Falla falla);

struct ResultadoEstudio {
    long lecturas = 0;
    // Read-backs whose estimate was published (valid), and those whose bound
    // missed the truth; before any read had shown a fault, and after.
    long publicadas = 0;
    long fallidas = 0;
    long fallidas_antes_de_verla = 0;
    long no_validas = 0;
    // Estimate minus truth 5, 10 and 20 read-backs after the first set
    // (cases without fine correction), ms; the drift's after 60, ppm; and
    // the offset's 10 read-backs after a knock, ms.
    std::vector<double> error_tras_5_ms, error_tras_10_ms, error_tras_20_ms;
    std::vector<double> error_deriva_tras_60_ppm;
    std::vector<double> error_tras_golpe_ms;
    // Fine corrections in a case's busiest hour, and designed updates per
    // case, per hour.
    std::vector<double> finas_por_hora;
    std::vector<double> actualizaciones_por_hora;
    // The worst drift bound missed (truth outside), in ppm beyond the bound.
    long deriva_fallida = 0;
    // Sets the device dropped, and those told as not taken within two
    // read-backs.
    long puestas_perdidas = 0;
    long no_tomadas_dichas = 0;
    // Knocked cases: the bounds missed before a read showed the knock, one
    // count per case; apart, those whose offset was known to 10 ms when
    // knocked.
    std::vector<int> golpe_fallidas_conocido, golpe_fallidas_resto;
};

// `lecturas` one-minute read-backs of each case. `historial` is a scratch file.
ResultadoEstudio estudiar(const std::vector<CasoEstudio>& casos, int lecturas,
                          const QString& historial);

} // namespace quarvel::sim
