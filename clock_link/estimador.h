#pragma once

#include "clock_link/poligono.h"

#include <QtGlobal>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace quarvel {

struct ConfigLinea;

// What the estimator assumes of the line and the device. Outside these a
// read may contradict what is known; the estimator then says it does not
// know, and widens them.
struct LimitesEstimador {
    // How far from its measured moment a set leaves the clock, at most (s).
    double error_puesta_s = 0.005;
    // L: how late after the request is written the device reads its clock,
    // at most (s): both messages' line time, the device's own delay.
    double latencia_max_s = 0.6;
    // |d|: the clock's drift at most, either way (1e-6 is one ppm).
    double deriva_max = 1000e-6;
    // J: how far one read's sampling moment may wander from t + L (s): a
    // byte time, the scheduler, the drift over L.
    double fluctuacion_s = 0.008;
    // One byte's time on the line (s).
    double byte_s = 0.00104;
};

// The limits for a port's line settings: byte times at its baud, parity,
// data and stop bits, plus allowances for the device and the scheduler.
LimitesEstimador limites_de_linea(const ConfigLinea& linea);

// How well the clock is kept, from the designed read-backs alone. The design
// and its limits are written down in docs/estimador.md.
//
// Units: times in PC microseconds (t_us), offsets in seconds, drift d as a
// fraction (1e-6 = 1 ppm). Signs: offset is clock minus PC, positive d: the
// clock gains.
//
// The clock answers a request written at t with the whole second it holds
// L + e later (|e| <= J). With psi(t) = offset(t) + L written
// psi(t) = a + d * (t - t_ref), a reply C says
//   C - t - J <= a + d * (t - t_ref) < C + 1 - t + J,
// a band in the plane of (a, d). The region of (a, d) the reads allow is a
// convex polygon, cut by each band.
class EstimadorDesvio {
public:
    using Config = LimitesEstimador;

    struct Estimacion {
        bool valida = false;
        // Clock minus PC (s) and its bound: the truth lies within.
        double desvio_s = 0;
        double cota_s = 0;
        // Drift (positive: the clock gains) and its bound.
        double deriva = 0;
        double cota_deriva = 0;
    };

    // What one read did to what is known.
    enum class Veredicto {
        // Within what was known: it narrowed it.
        Coherente,
        // Outside what was known: until the next reads decide what happened,
        // nothing is known.
        Contradiccion,
        // The contradiction was a knock (the clock was changed behind our
        // back): its offset re-learnt from here, drift and latency kept.
        Golpe,
        // The contradiction was a false reply: dropped; the device is not
        // trusted for a while.
        Falsa,
        // Neither: the drift or the latency is outside the limits, or the
        // device lies. Limits widened, learning starts again.
        ModeloRoto,
    };

    EstimadorDesvio();
    explicit EstimadorDesvio(Config config);

    // A set whose seconds byte landed at `t_us`, leaving the clock
    // `desvio_s` off there (a late write leaves it behind).
    void puesta(qint64 t_us, double desvio_s = 0);
    bool activo() const { return !hip_.region.empty(); }
    // Forget the offset (the clock was moved, as something else saw): the
    // next read starts again, with the latency and drift as learnt.
    void olvidar();
    // What an earlier run learnt: believed until the first contradiction.
    void sembrar(double latencia_min_s, double latencia_max_s, double deriva_lo, double deriva_hi);
    // L's range, once a set's period that held together measured it.
    std::optional<std::pair<double, double>> latencia_aprendida() const;
    // Whether it stands on what an earlier run learnt, not yet measured
    // again nor contradicted.
    bool sembrado() const { return sembrado_; }
    // Forget the latency and drift learnt as well: they may hold a knock
    // learnt unseen. The device's record stays.
    void olvidar_lo_aprendido();
    // L is at most `tope_s` (s): what the last replies' windows allow a
    // steady device, whose every read lies within its window. Infinity
    // lifts it.
    void acotar_latencia(double tope_s);

    // The moment in [desde_us, hasta_us] at which a request tells most: where
    // it splits what is known, looks past its edges, or tells two accounts of
    // a contradiction apart.
    qint64 momento_de_lectura(qint64 desde_us, qint64 hasta_us) const;

    // The clock answered with `reloj_s` (whole seconds since 1970) a request
    // whose write began at `t_us` and took `escritura_us`.
    Veredicto lectura(qint64 t_us, qint64 reloj_s, qint64 escritura_us = 0);

    // The estimate at `t_us`; not valid while nothing is known, before a read
    // has confirmed a set, while a contradiction is undecided, or while the
    // device has a record (a false reply or a broken model) that has not yet
    // eased off.
    Estimacion en(qint64 t_us) const;

    // Limits now in force (widened after a broken model).
    const Config& limites() const { return config_; }
    // Reads since the last one that contradicted what was known (a large
    // number when none did).
    long lecturas_sin_contradiccion() const { return seguidas_; }
    // Contradictions seen.
    long contradicciones() const { return contradicciones_; }
    // Whether the device has a clean record: no false reply, broken model
    // or knock after knock that has not yet eased off.
    bool sin_antecedentes() const { return castigo_ == 0; }

private:
    // One account of the clock: its region, and whether it counts from a set.
    struct Hipotesis {
        Poligono region; // (a in s, d)
        qint64 ref_us = 0;
        bool desde_puesta = false;
        double desvio_puesta_s = 0;
        // What this period tells of L, from the set's anchor.
        double periodo_min = 0;
        double periodo_max = 0;
        long lecturas = 0;
    };

    std::pair<double, double> rango(const Hipotesis& h, qint64 t_us) const;
    // Whether a read's band meets the hypothesis' region.
    bool admite(const Hipotesis& h, qint64 t_us, double lo, double hi) const;
    void cortar(Hipotesis& h, qint64 t_us, double lo, double hi) const;
    Hipotesis desde_lectura(qint64 t_us, double lo, double hi) const;
    void modelo_roto(qint64 t_us, double base, double escritura_s);
    void castigar();
    // L and d back to the limits in force: nothing learnt.
    void a_los_limites();
    void golpe_confirmado();
    // The psi the next request's moment should split at.
    double objetivo(qint64 t_us) const;

    Config config_;
    Hipotesis hip_;
    // While a contradiction is undecided: the knock's account (hip_ keeps the
    // old one) and how many reads have not told them apart.
    std::optional<Hipotesis> golpe_;
    int sin_decidir_ = 0;
    // Whether a read has agreed with the account since its set or restart.
    bool confirmada_ = false;
    // Whether the period since the last set held together.
    bool periodo_limpio_ = false;
    // L as measured by a period that held together, or from an earlier run
    // (sembrado_: dropped at the first contradiction).
    bool latencia_medida_ = false;
    bool sembrado_ = false;
    // L and d as learnt from periods that held together (or the limits).
    double latencia_min_ = 0;
    double latencia_max_ = 0;
    // L at most, as the replies' windows show it (acotar_latencia).
    double tope_latencia_ = std::numeric_limits<double>::infinity();
    double deriva_lo_ = 0;
    double deriva_hi_ = 0;
    // Probation: reads that must agree before the estimate is shown again,
    // and what a false reply or a broken model sets it to (doubling).
    long requerido_ = 0;
    long castigo_ = 0;
    // Reads that agreed on probation while the account was narrow enough
    // for a look past its edges to test it; every read on probation.
    long probadas_ = 0;
    long turno_ = 0;
    long buenas_ = 0;
    long seguidas_ = 1'000'000;
    long lecturas_ = 0;
    long contradicciones_ = 0;
    long ultimo_golpe_ = -1'000;
    long ultimo_episodio_ = -1'000;
    // The drift range the account had over its last reads, oldest first: a
    // knock shows some reads after it came, and the reads between may have
    // bent the drift toward it.
    std::vector<std::pair<double, double>> derivas_;
    // Which part of the region the last two reads kept: +1 the upper, -1 the
    // lower, 0 neither.
    int lado_ = 0;
    int lado_antes_ = 0;
};

} // namespace quarvel
