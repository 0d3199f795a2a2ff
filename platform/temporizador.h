#pragma once

#include <QObject>
#include <QTimer>

namespace quarvel {

// A window timer: an interval in milliseconds and an enabled flag. An
// interval of 0 never fires; enabling a running timer does not restart it;
// at most one tick is ever pending, all on the UI thread.
class Temporizador : public QObject {
    Q_OBJECT
public:
    static constexpr long kIntervaloMaximo = 65535;

    Temporizador(QString nombre, int intervalo, bool activo, QObject* parent = nullptr);

    int Interval() const { return intervalo_; }
    // Throws Fallo for a negative interval or one above kIntervaloMaximo.
    void setInterval(long ms);

    bool Enabled() const { return activo_; }
    void setEnabled(bool activo);

    // Put ticks on wall-clock boundaries: every tick falls on a multiple of
    // the interval plus `fase_ms` (mod 1000 for the first tick after
    // enabling), never sooner than one interval after enabling. Used by the
    // display ticks so a new second shows right after it begins.
    void alinearAlReloj(int fase_ms);

    const QString& nombre() const { return nombre_; }
    // The wall-clock boundary (ms) the current aligned tick was set for; -1
    // when none has fired.
    qint64 ultimoLimite() const { return limite_actual_; }

signals:
    void Timer();

private:
    void armar(bool primero);
    void disparo();

    QString nombre_;
    QTimer timer_;
    int intervalo_;
    bool activo_ = false;
    bool alineado_ = false;
    int fase_ms_ = 0;
    qint64 limite_siguiente_ = -1;
    qint64 limite_actual_ = -1;
};

// When an aligned timer fires next (wall-clock milliseconds).
qint64 proximo_disparo(qint64 ahora, int intervalo, int fase_ms, bool primero);

} // namespace quarvel
