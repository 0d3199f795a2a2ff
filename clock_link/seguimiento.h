#pragma once

#include "clock_link/aprendido.h"
#include "clock_link/decodificacion.h"
#include "clock_link/estimador.h"
#include "clock_link/estimador_ventana.h"
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
    // What the reply's own window told of the accounts standing.
    EstimadorVentana::Suceso suceso = EstimadorVentana::Suceso::Ninguno;
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
        : estimador_(limites)
        , ventana_(limites) {}

    // When, from `desde_us` on and inside that same second (short of its
    // last kMargenFinDeSegundoUs), the request goes out to tell the most; at
    // once before anything is known.
    qint64 momento_de_lectura(qint64 desde_us) const;

    // A set whose seconds landed at `t_us`, leaving the clock `desvio_s` off.
    // It is a claim until reads bear it out: what was known before it is
    // kept beside it.
    void puesta(qint64 t_us, double desvio_s = 0);

    // The read-back of a request whose write began at `t_us` and took
    // `escritura_us`, its reply whole at `llegada_us` (0: not known): a
    // complete reply feeds the estimate; `equivocado` is the designed
    // comparison's verdict. A read that tells nothing of the clock (no
    // reply, no port, no valid time) leaves the record's estimate not valid.
    Registro lectura(qint64 t_us, const LecturaReloj& reloj, bool completa, bool error_puerto,
                     bool equivocado, const EstadoPc& pc, qint64 escritura_us = 0,
                     qint64 llegada_us = 0);

    // What is shown: the windows' accounts, narrowed by the latency model
    // where that holds (a steady device with a clean record).
    EstimadorDesvio::Estimacion en(qint64 t_us) const;
    const EstimadorDesvio& estimador() const { return estimador_; }
    const EstimadorVentana& ventana() const { return ventana_; }
    // What an earlier run learnt, aged to `ahora_s`: believed until the
    // first contradiction.
    void sembrar(const Aprendido& a, qint64 ahora_s);
    // What is worth keeping now (`clave`: the port and line): nothing until
    // the drift is known better than the limits, with the estimate steady.
    std::optional<Aprendido> aprendido(qint64 t_us, const QString& clave) const;

    // Reads in a row that found nothing at odds with what was known, and
    // one account standing: what a finer set may act on.
    bool estable(long lecturas) const {
        return (ventana_.lecturas() == 0 || ventana_.decidido()) && tranquilas_ >= lecturas;
    }

private:
    bool aparato_constante() const;

    struct Leida {
        qint64 t_us, reloj_s, escritura_us;
    };

    EstimadorDesvio estimador_;
    EstimadorVentana ventana_;
    // The latency model as it stood before the last set, and the reads
    // since: if the set did not take, it goes on from there.
    std::optional<EstimadorDesvio> antes_de_puesta_;
    std::vector<Leida> desde_puesta_;
    long lecturas_ = 0;
    // Reads in a row that neither the windows nor the latency model found
    // at odds with what was known.
    long tranquilas_ = 0;
    // Whether the windows told the last set apart from what stood before it
    // and found it took: until then the latency model, which believes every
    // set, narrows nothing.
    bool puesta_confirmada_ = true;
    static constexpr long kLecturasTranquilas = 10;
    static constexpr long kEpisodiosRecientes = 120;
    // What the PC adds to a window it measures (s): the reader's poll and
    // the scheduler.
    static constexpr double kHolguraVentanas_s = 0.004;
};

// Whether a reply's time is a time at all: a flood of zero bytes makes none.
bool hora_valida(const LecturaReloj& l);

// Whether a clock kept within `umbral_ms` needs a set now: its offset is
// beyond the threshold and surely beyond half of it (by more than its
// bound), now or by the next read-back `intervalo_s` on, as its drift
// carries it.
bool corregir_fino(const EstimadorDesvio::Estimacion& e, double umbral_ms, double intervalo_s);

// The offset (s) a fine correction leaves the clock at, on purpose: a clock
// that surely gains is left behind by what its drift brings in five
// minutes, at most the threshold (a clock that surely loses, ahead),
// so it drifts through zero on its way to the next correction, which comes
// about twice as late. 0 when the drift's sign is not sure.
double desvio_tras_correccion_fina(const EstimadorDesvio::Estimacion& e, double umbral_ms);

} // namespace quarvel
