#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <optional>

namespace quarvel {

// The PC's clock, and calls made at given moments of it. Windows and their
// timers take one, so tests can run on a clock they move by hand.
class FuenteHora {
public:
    // How close to its moment a call must come.
    enum class Precision {
        // Not before it, and soon after (about a millisecond).
        NoAntes,
        // On it, to a small fraction of a millisecond: the last moments are
        // waited awake. For the writes that set the clock.
        Exacta,
    };
    using Id = quint64;

    FuenteHora() = default;
    FuenteHora(const FuenteHora&) = delete;
    FuenteHora& operator=(const FuenteHora&) = delete;
    virtual ~FuenteHora() = default;

    // Microseconds since 1970, UTC.
    virtual qint64 ahora_us() const = 0;
    // The local date and time, to the millisecond.
    QDateTime ahora() const;

    // Calls `accion` once at `cuando_us` (soon, when that has passed).
    virtual Id programar(qint64 cuando_us, Precision precision, std::function<void()> accion) = 0;
    // Forgets a call not made yet; an unknown id is ignored.
    virtual void cancelar(Id id) = 0;
};

// While one lives, sleeping threads wake to the millisecond. Windows ticks
// every 15.6 ms otherwise, and a finer tick costs the PC power, so it is held
// only while something waits for its moment; elsewhere it changes nothing.
class ResolucionFina {
public:
    ResolucionFina();
    ~ResolucionFina();
    ResolucionFina(const ResolucionFina&) = delete;
    ResolucionFina& operator=(const ResolucionFina&) = delete;
    // How many live in this process now.
    static int vigentes();
};

// The real clock. Calls wait on Qt's precise timers, so a step of the PC's
// clock while one waits does not move it.
class HoraDelSistema final : public QObject, public FuenteHora {
    Q_OBJECT
public:
    HoraDelSistema() = default;
    qint64 ahora_us() const override;
    Id programar(qint64 cuando_us, Precision precision, std::function<void()> accion) override;
    void cancelar(Id id) override;

protected:
    void timerEvent(QTimerEvent* evento) override;

private:
    struct Cita {
        Id id;
        qint64 cuando_us;
        Precision precision;
        std::function<void()> accion;
    };
    void armar(Cita cita);
    void tomar(Precision precision);
    void soltar(Precision precision);

    // By Qt timer id.
    std::map<int, Cita> citas_;
    Id siguiente_ = 0;
    // Held while an exact call waits.
    int exactas_ = 0;
    std::optional<ResolucionFina> fina_;
};

// "HH:MM:SS" and "DD/MM/YYYY", the display formats of both windows.
QString formato_hora(const QDateTime& t);
QString formato_fecha(const QDateTime& t);

// The first multiple of `paso` after `t` (after or at it when `incluido`).
inline qint64 multiplo_tras(qint64 t, qint64 paso, bool incluido) {
    qint64 m = t / paso * paso;
    if (m < t || (!incluido && m == t))
        m += paso;
    return m;
}

} // namespace quarvel
