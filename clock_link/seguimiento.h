#pragma once

#include "clock_link/decodificacion.h"
#include "clock_link/estimador.h"
#include "platform/estado_pc.h"

#include <optional>

namespace quarvel {

// How well the clock is kept, read-back after read-back: when each request
// goes out, and what each reply tells of the offset and drift.

enum class Resultado { Bien, Mal, SinRespuesta, ErrorPuerto };
enum class Accion { Ninguna, Actualizacion, CorreccionFina };

// One read-back.
struct Registro {
    qint64 t_us = 0; // when the request went out, PC microseconds
    Resultado resultado = Resultado::Bien;
    // Not valid where nothing honest can be said of the clock.
    EstimadorDesvio::Estimacion estimacion;
    // What the reply did to the estimate; Coherente when there was none.
    EstimadorDesvio::Veredicto veredicto = EstimadorDesvio::Veredicto::Coherente;
    std::optional<bool> pc_sincronizado;
    Accion accion = Accion::Ninguna;
};

// How long before its second ends a request may be aimed at the latest, so
// that one the scheduler writes late still starts inside that second. With
// both cores busy the write began up to about 10 ms after its moment
// (docs/estimador.md); this leaves twice that.
inline constexpr qint64 kMargenFinDeSegundoUs = 20'000;

class SeguimientoReloj {
public:
    SeguimientoReloj() = default;
    explicit SeguimientoReloj(const LimitesEstimador& limites)
        : estimador_(limites) {}

    // When, from `desde_us` on and inside that same second (short of its
    // last kMargenFinDeSegundoUs), the request goes out to tell the most; at
    // once before anything is known.
    qint64 momento_de_lectura(qint64 desde_us) const;

    // A set whose seconds landed at `t_us`, leaving the clock `desvio_s` off.
    void puesta(qint64 t_us, double desvio_s = 0) { estimador_.puesta(t_us, desvio_s); }

    // The read-back of a request whose write began at `t_us` and took
    // `escritura_us`: a complete reply feeds the estimate; `equivocado` is
    // the designed comparison's verdict. A read that tells nothing of the
    // clock (no reply, no port) leaves the record's estimate not valid.
    Registro lectura(qint64 t_us, const LecturaReloj& reloj, bool completa, bool error_puerto,
                     bool equivocado, const EstadoPc& pc, qint64 escritura_us = 0);

    EstimadorDesvio::Estimacion en(qint64 t_us) const { return estimador_.en(t_us); }
    const EstimadorDesvio& estimador() const { return estimador_; }

private:
    EstimadorDesvio estimador_;
};

// Whether a clock kept within `umbral_ms` needs a set now: its offset is
// surely beyond the threshold (by more than its bound), or surely will be
// by the next read-back `intervalo_s` on, as its drift carries it.
bool corregir_fino(const EstimadorDesvio::Estimacion& e, double umbral_ms, double intervalo_s);

} // namespace quarvel
