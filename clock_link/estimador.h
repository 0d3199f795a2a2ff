#pragma once

#include <QtGlobal>
#include <utility>
#include <vector>

namespace quarvel {

// How well the clock is kept, from the designed read-backs alone.
//
// The clock runs at a steady drift d. It answers a request written at PC
// time t with the whole second it holds a fixed latency L later (the
// request's line time and the device's own delay). With phi(t) the clock
// minus the PC plus L, written phi(t) = a + d * (t - t_ref), a reply C
// (whole seconds) says
//   C <= t + a + d * (t - t_ref) < C + 1,
// a band in the plane of (a, d). Each read cuts the region where both can
// be, and each read's moment is chosen inside its second to split what is
// left, so the region narrows read after read.
//
// A set leaves the clock within `error_puesta_s` of the PC: from it on, the
// offset is that small error plus d * (t - t_set), and what the reads tell
// of a measures L too. L and d belong to the device and carry over from set
// to set; a clock changed behind our back (a read the region cannot hold)
// is followed from that read on, its offset known through L.
class EstimadorDesvio {
public:
    struct Config {
        // How far from the PC a set leaves the clock, at most.
        double error_puesta_s = 0.002;
        // How late a reply may sample the clock after the request is written.
        double latencia_max_s = 0.1;
        // The drift a clock may have, at most either way.
        double deriva_max = 300e-6;
        // How far a request's moment may wander (a byte time, the scheduler).
        double fluctuacion_s = 0.0015;
    };

    struct Estimacion {
        bool valida = false;
        // Clock minus PC, in seconds, and its bound: the truth lies within.
        double desvio_s = 0;
        double cota_s = 0;
        // Drift (positive: the clock gains) and its bound.
        double deriva = 0;
        double cota_deriva = 0;
    };

    EstimadorDesvio();
    explicit EstimadorDesvio(Config config);

    // A set whose seconds byte landed at `t_us` (PC microseconds).
    void puesta(qint64 t_us);
    bool activo() const { return activo_; }

    // The moment from `desde_us` on, within a second, at which a request
    // splits what is known.
    qint64 momento_de_lectura(qint64 desde_us) const;

    // The clock answered a request written at `t_us` with `reloj_s` (whole
    // seconds since 1970). False when the answer contradicts what was known:
    // the clock was changed behind our back, and is followed from here.
    bool lectura(qint64 t_us, qint64 reloj_s);

    // The estimate at `t_us`; not valid before the first read or set.
    Estimacion en(qint64 t_us) const;

private:
    using Punto = std::pair<double, double>; // (a, d)
    // Keeps the part of the region where lo <= a + d * delta <= hi.
    void cortar(double delta, double lo, double hi);
    std::pair<double, double> rango(double delta) const;
    std::pair<double, double> rango_deriva() const;
    // The region's centroid (a, d).
    std::pair<double, double> centroide() const;
    void caja(double a_lo, double a_hi, double d_lo, double d_hi);

    Config config_;
    bool activo_ = false;
    // Whether the region still counts from the last set.
    bool desde_puesta_ = false;
    qint64 ref_us_ = 0;
    // What is known of L: from periods that ended in a set with every read
    // consistent, and from the present one (which a change behind our back
    // may have misled, so it counts only once its period ends well).
    double latencia_min_ = 0;
    double latencia_max_ = 0;
    double periodo_min_ = 0;
    double periodo_max_ = 0;
    std::vector<Punto> region_;
    long lecturas_ = 0;
    long lecturas_desde_puesta_ = 0;
};

} // namespace quarvel
