#pragma once

#include "clock_link/estimador.h"
#include "clock_link/poligono.h"

#include <QtGlobal>
#include <deque>
#include <optional>
#include <vector>

namespace quarvel {

// What each read's own timing tells, with no latency assumed: the device
// reads its clock after the request's write begins and before the reply's
// seconds byte has arrived, so every reply bounds the offset by itself
// (docs/estimador.md, "The reply's window").
//
// Units: PC microseconds for moments (t_us); offsets in seconds, clock minus
// PC; drift a fraction (1e-6 = 1 ppm), positive when the clock gains.
//
// Several accounts of the clock may stand at once, each a convex region of
// (offset at its reference, drift): after a set (the set took, or it did
// not), and after a read that contradicted what was known (a knock, or a
// false reply). Every read cuts each account; an account contradicted twice
// is dropped. What is shown covers every account standing, so it stays true
// whichever holds.
class EstimadorVentana {
public:
    // How far past an edge a look goes, beyond the window itself (s): what
    // the PC's timestamps may be late by.
    static constexpr double kPasadoElBorde_s = 0.002;

    enum class Suceso {
        Ninguno,
        // The read agreed with the set's account and no other stands.
        PuestaConfirmada,
        // The set's account was dropped: the clock kept what it had.
        PuestaNoTomada,
        // The read contradicted every account: a new one starts from it.
        Contradiccion,
        // The account that a contradiction started is the one left: the
        // clock was changed behind our back.
        Golpe,
        // The accounts from before a contradiction are left: the reply that
        // contradicted them was false.
        Falsa,
        // Contradictions close together: the drift is beyond the limits,
        // which widen.
        ModeloRoto,
    };

    explicit EstimadorVentana(const LimitesEstimador& limites = {});

    // A set whose seconds byte landed at `t_us`, leaving the clock
    // `desvio_s` off there. The accounts from before stay until reads tell.
    void puesta(qint64 t_us, double desvio_s = 0);

    // The reply `reloj_s` (whole seconds since 1970) to a request whose write
    // began at `desde_us`, its seconds byte in by `hasta_us`.
    Suceso lectura(qint64 desde_us, qint64 hasta_us, qint64 reloj_s);

    // Something narrower than the windows (the latency model) found this
    // read at odds with what was known: the read's own account stands
    // beside the others until reads tell.
    void sospecha(qint64 desde_us, qint64 hasta_us, qint64 reloj_s);

    // Covering every account standing; not valid before any read, nor on
    // probation after a false reply.
    EstimadorDesvio::Estimacion en(qint64 t_us) const;

    // One account, borne out by a read: nothing undecided.
    bool decidido() const;
    std::size_t cuentas() const { return cuentas_.size(); }
    // Reads with a window seen: none where the port tells no timing.
    long lecturas() const { return lecturas_; }

    // The offset (s) at `t_us` the next read's window should straddle, and
    // whether that read tests an edge (the account cannot be narrowed by
    // the window alone) rather than splits what is known: the upper edge
    // when `arriba`, so that callers take each by turns.
    struct Objetivo {
        double desvio_s = 0;
        bool borde = false;
    };
    std::optional<Objetivo> objetivo(qint64 t_us, bool arriba) const;
    // The window expected of the next read (s): the last ones measured.
    double ventana_esperada_s() const;
    // How much the last windows differ (s): a steady device's hardly do.
    // Infinite before a few have been seen.
    double dispersion_ventanas_s() const;

    // What an earlier run learnt of the drift: believed for the accounts
    // that start from here, until the first contradiction.
    void sembrar_deriva(double d_lo, double d_hi);

    const LimitesEstimador& limites() const { return limites_; }
    long puestas_no_tomadas() const { return no_tomadas_; }
    // Reads since one contradicted every account (a large number if none).
    long desde_contradiccion() const { return lecturas_ - ultima_contradiccion_; }

private:
    struct Cuenta {
        Poligono region;
        qint64 ref_us = 0;
        // From a set no read has yet agreed with.
        bool de_puesta = false;
        // Stood when the latest set was made: the account of a set that did
        // not take.
        bool previa = false;
        // Started by a read that contradicted every account.
        bool de_contradiccion = false;
        // Its drift came from an earlier run and no read has borne it out.
        bool deriva_sembrada = false;
        // Reads that contradicted it: kept uncut, dropped at the second.
        int faltas = 0;
        long creada_en = 0;
    };

    Cuenta nueva(qint64 t_us, double lo_s, double hi_s, double d_lo, double d_hi) const;
    std::pair<double, double> rango(const Cuenta& c, qint64 t_us) const;
    Cuenta unir(const Cuenta& x, const Cuenta& y) const;
    // Accounts that meet at `t_us` as one; no more than can be aimed between.
    void unir_solapadas(qint64 t_us);

    LimitesEstimador limites_;
    std::vector<Cuenta> cuentas_;
    // The drift new accounts start from when none stands to carry it.
    double deriva_lo_;
    double deriva_hi_;
    bool deriva_sembrada_ = false;
    std::deque<double> ventanas_s_;
    long lecturas_ = 0;
    long ultima_contradiccion_ = -1'000;
    long no_tomadas_ = 0;
    // Probation after a false reply: reads that must agree before anything
    // is shown, what the next false reply sets that to, agreeing reads.
    long requerido_ = 0;
    long castigo_ = 0;
    long buenas_ = 0;
};

} // namespace quarvel
