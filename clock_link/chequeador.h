#pragma once

#include "clock_link/bitacora.h"
#include "clock_link/decodificacion.h"
#include "clock_link/plan_envio.h"
#include "clock_link/protocolo.h"
#include "platform/estado_pc.h"
#include "platform/fuente_hora.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace quarvel {

class EnlaceReloj;
class PuertoSerie;
class Temporizador;

// Whether the checker checks: stopped by "Parar", and between a mismatch
// and the end of the update it started.
enum class EstadoChequeo { Parado, Chequeando };

// Where a complete update stands: the six value steps, the closing "C" "W",
// then the display mode restored and the port closed.
enum class PasoActualizacion {
    Ninguno,
    Dia,
    Mes,
    Anio,
    Hora,
    Minutos,
    Segundos,
    Grabar,
    Restaurar,
};

// What one read-back found, as the window shows it.
struct ChequeoHecho {
    // The check's moment as the display showed it (PC local time).
    QDateTime hora;
    bool completa = false;
    bool error_puerto = false;
    // The designed comparison's verdict: date or hours and minutes differ.
    bool equivocado = false;
    // The clock is set again only to keep it finer.
    bool afinar = false;
    // What the clock showed, as the mismatch line writes it.
    QString fecha_reloj;
    QString hora_reloj;
    Registro registro;
    // Read-backs made and replies read since start (the hidden counters).
    qint64 lecturas = 0;
    qint64 respuestas = 0;
};

// The checker's cycle on Qt Core: the interval's count and the second-31
// rule, the read-back (port, request, reply, "salida.txt", the designed
// comparison, "sincro.txt"), the complete update's steps and the bookkeeping
// of how well the clock is kept. It takes its time from the clock it is
// given and tells what it found by signals; it never reads a window.
class Chequeador : public QObject {
    Q_OBJECT
public:
    struct Entorno {
        PuertoSerie* puerto = nullptr;
        // The exchanges on the port, shared with the display-mode switch.
        EnlaceReloj* enlace = nullptr;
        FuenteHora* hora = nullptr;
        // The PC's own sync state, read at each read-back; none is unknown.
        std::function<EstadoPc()> estado_pc;
        // The display mode every update ends with.
        std::function<ModoPantalla()> modo;
    };

    Chequeador(Entorno entorno, BitacoraLecturas::Opciones opciones, QObject* parent = nullptr);
    ~Chequeador() override;

    // Start-up, once the settings are read: checks every `intervalo_min`
    // minutes, and the estimator's limits from the port's line. The update's
    // spacing is Timer4's interval, set before.
    void configurar(long intervalo_min);
    // Starts checking in `carpeta` on `puerto` (the metrics' labels); the
    // first update a second later.
    void arrancar(const QString& carpeta, const QString& puerto);
    // No more exchanges: the window is going.
    void detener();

    // The 1 s wait before an update (start-up, a mismatch) and the update's
    // step timer, spaced by [T1].
    Temporizador* Timer1 = nullptr;
    Temporizador* Timer4 = nullptr;

    // The display's 100 ms tick, `desvio_us` off its moment: a stepped PC
    // clock, the interval's count, a read-back due at second 31.
    void tic(qint64 desvio_us);
    // The clock is read back at the next second 31, whatever the count.
    void chequear_en_el_31() { pendiente_ = true; }
    // A read-back asked for: at the next second far enough from a change
    // of minute (10 to 50), besides the one due at 31.
    void pedir_lectura();
    // "Inicio": checking on, the count from zero, an update now.
    void inicio();
    // "Parar": no update waits, no more read-backs until "Inicio".
    void parar();

    // A read-back in the current second, its request at its chosen moment.
    void iniciar_chequeo();
    // The read-back itself, now, compared with the moment its check began
    // (now when none did).
    void chequeo_de_datos();
    // Timer1's tick: the update after its wait.
    void tras_la_espera();
    // Timer4's tick: the update's next step.
    void paso_de_actualizacion();

    EstadoChequeo estado() const { return estado_; }
    // A read-back is due at the next second 31.
    bool pendiente() const { return pendiente_; }
    PasoActualizacion paso() const { return paso_; }
    bool actualizando() const;
    // A read-back waits for its moment inside its second.
    bool lectura_en_espera() const { return lectura_en_espera_; }
    // False for a [T1] of 0: a wrong clock is logged but cannot be set.
    bool puede_poner_en_hora() const;
    long intervalo() const { return intervalo_; }
    const PlanDeEnvio& plan() const { return plan_; }
    BitacoraLecturas& bitacora() { return bitacora_; }
    const BitacoraLecturas& bitacora() const { return bitacora_; }

signals:
    // A read-back starts: the window shows its moment.
    void chequeo_iniciado(const QDateTime& hora);
    // A read-back ended with a reply, or none.
    void chequeado(const ChequeoHecho& hecho);
    // A failure that is not the port's (a file, a delay of 0), for the user.
    void fallo(const QString& descripcion);

private:
    // A complete update: planned from now, its date and time kept for the
    // steps, Timer4 started at its moment.
    void iniciar_actualizacion();
    void actualizacion_completa(PasoActualizacion paso);
    void cuenta_del_intervalo();
    void chequeo_debido();
    // The read-back at its moment, unless an update started meanwhile.
    void leer_a_su_hora();
    void abrir_para_leer();
    void programar_lectura(qint64 desde_us, bool cuanto_antes = false);
    // Writes a file the read-back keeps; a failure is said, never thrown.
    template <class F> void guardar(F&& escritura);

    Entorno entorno_;
    // Where the journal's lines go.
    std::function<void(Prioridad, const QString&)> diario_;
    BitacoraLecturas bitacora_;
    EstadoChequeo estado_ = EstadoChequeo::Parado;
    PasoActualizacion paso_ = PasoActualizacion::Ninguno;
    long intervalo_ = 1;
    // The display's ticks since the interval's count began.
    long ticks_ = 0;
    bool pendiente_ = false;
    bool pedido_ = false;
    bool en_chequeo_ = false;
    bool detenido_ = false;
    bool lectura_en_espera_ = false;
    FuenteHora::Id cita_lectura_ = 0;
    // The port was opened for the read-back that waits for its moment, and
    // the latest moment its request may start within its second (PC µs; 0
    // when none is planned).
    bool puerto_listo_ = false;
    qint64 fin_seguro_us_ = 0;
    // A request must start this long before its second ends: from a write's
    // start to the request's last byte at the device took 14.3 ms at worst
    // over 100 read-backs with both cores busy (bench/segundo.sh).
    static constexpr qint64 kMargenEscrituraUs = 15'000;
    // When the check began, as the display showed it.
    QDateTime hora_chequeo_;
    PlanDeEnvio plan_;
    qint64 lecturas_ = 0;
    qint64 respuestas_ = 0;
    // How late the last update's seconds byte went out (µs).
    qint64 retraso_segundos_us_ = 0;
    // How late, on purpose, the next update's seconds byte is to land (µs;
    // negative: early): a fine correction leaves a clock that gains behind.
    qint64 retraso_fino_us_ = 0;
};

} // namespace quarvel
