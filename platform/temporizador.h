#pragma once

#include "platform/fuente_hora.h"

#include <QObject>
#include <QString>

namespace quarvel {

// A window timer: an interval in milliseconds and an enabled flag, ticking on
// the clock it is given. An interval of 0 never fires; enabling a running
// timer does not restart it; ticks lost behind a slow handler are not made
// up, so at most one is ever pending.
class Temporizador : public QObject {
    Q_OBJECT
public:
    static constexpr long kIntervaloMaximo = 65535;

    // Where the first tick of a timer aligned to the clock falls.
    enum class PrimerTick {
        // On the first boundary at least one interval away.
        TrasUnIntervalo,
        // On the very next boundary.
        EnElProximoLimite,
    };

    Temporizador(QString nombre, int intervalo, bool activo, FuenteHora& hora,
                 QObject* parent = nullptr);
    ~Temporizador() override;

    int Interval() const { return intervalo_; }
    // Throws Fallo for a negative interval or one above kIntervaloMaximo. A
    // new interval restarts the count of a running timer.
    void setInterval(long ms);

    bool Enabled() const { return activo_; }
    void setEnabled(bool activo);

    // Enabled with its first tick one interval after `base_us` instead of
    // after now: a step of a chain keeps its spacing from the moment the one
    // before it was due, however late that one ran, and a chain can start at
    // a planned moment.
    void activarDesde(qint64 base_us);

    // Ticks on the clock's multiples of the interval (whole seconds for a
    // 1000 ms timer), so a display shows a new second right after it begins.
    void alinearAlReloj(PrimerTick primero);
    void setPrecision(FuenteHora::Precision precision) { precision_ = precision; }

    const QString& nombre() const { return nombre_; }
    // When the tick being handled, or the last one, was due; -1 before any.
    qint64 vencimiento_us() const { return vencimiento_us_; }
    // How far off its moment the tick being handled ran, by the PC's clock:
    // positive when late. Far off means a stall, or the clock was stepped.
    qint64 desvio_us() const { return desvio_us_; }
    // When the next tick is due; -1 when none will come.
    qint64 proximo_us() const { return armado_ ? proximo_us_ : -1; }

signals:
    void Timer();

private:
    void armar(qint64 cuando_us);
    void desarmar();
    void disparo();
    qint64 primer_tick(qint64 base_us) const;

    QString nombre_;
    FuenteHora& hora_;
    int intervalo_;
    bool activo_ = false;
    bool alineado_ = false;
    PrimerTick primero_ = PrimerTick::TrasUnIntervalo;
    FuenteHora::Precision precision_ = FuenteHora::Precision::NoAntes;
    bool armado_ = false;
    FuenteHora::Id cita_ = 0;
    qint64 proximo_us_ = -1;
    qint64 vencimiento_us_ = -1;
    qint64 desvio_us_ = 0;
};

// The tick after one due at `vencido_us`, one interval later; ticks already
// missed at `ahora_us` are skipped, and a clock stepped back starts over from
// now (on the next boundary when aligned).
qint64 siguiente_tick(qint64 vencido_us, qint64 ahora_us, qint64 intervalo_us, bool alineado);

} // namespace quarvel
