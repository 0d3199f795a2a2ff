#pragma once

#include "clock_link/historial.h"
#include "clock_link/metricas.h"
#include "clock_link/seguimiento.h"
#include "platform/diario.h"

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace quarvel {

// Why fine correction does or does not act.
enum class EstadoFino {
    Apagada,
    Activa,
    // Only from a synchronised PC: a finer set from a PC that is itself off
    // would only move the error.
    PcSinSincronizar,
    // The PC cannot say whether it is synchronised (Windows).
    PcSinEstado,
    // Nothing honest is known of the offset now.
    EstimacionNoValida,
    // It set the clock as often as it may in the last hour: the clock drifts
    // faster than the threshold lets it follow.
    Limite,
};
// "activa", "inactiva: el PC no está sincronizado"...
QString texto_estado_fino(EstadoFino e);

// One read-back as the checker made it.
struct LecturaHecha {
    // When the request's write began, and how long it took (PC µs).
    qint64 t_us = 0;
    qint64 escritura_us = 0;
    // When the reply was seen whole (PC µs); 0 when there was none.
    qint64 llegada_us = 0;
    LecturaReloj reloj;
    bool completa = false;
    bool error_puerto = false;
    // The designed comparison's verdict.
    bool equivocado = false;
    EstadoPc pc;
    // The check time as the window shows it, "HH:MM:SS".
    QString hora;
    // False when the update cannot run (a [T1] of 0): a wrong or silent
    // clock is then logged, not set.
    bool puede_poner_en_hora = true;
};

// What the checker does with each read-back besides the designed comparison:
// follows the clock's offset and drift, decides a fine correction, and
// leaves the history line, the metrics file and the journal line.
class BitacoraLecturas {
public:
    struct Opciones {
        QString historial = kArchivoHistorial;
        // Empty: no metrics file.
        QString carpeta_metricas;
        // Where the journal's lines go.
        std::function<void(Prioridad, const QString&)> diario = quarvel::diario;
        // Where a file that cannot be written is said (once a read-back).
        std::function<void(const QString&)> fallo;
        // What was learnt of the clock, kept across restarts; empty: not
        // kept.
        QString aprendido = kArchivoAprendido;
    };

    // At most this many fine corrections in any hour.
    static constexpr int kFinasPorHora = 6;
    // Fine correction acts only after this many reads that contradicted
    // nothing.
    static constexpr long kLecturasLimpias = 5;

    explicit BitacoraLecturas(Opciones opciones);

    // The estimator's limits for the port's line; at start, before any set.
    void fijar_limites(const LimitesEstimador& limites);
    // The checker started at `ahora_us` in `carpeta` on `puerto` (the
    // metrics' labels): the metrics file is written, the start standing for
    // the last answer until the clock gives one.
    // `linea` (the line settings) with the port tells whether what an
    // earlier run learnt is of this clock.
    void inicio(qint64 ahora_us, const QString& carpeta, const QString& puerto,
                const QString& linea = {});
    // What the start found of what was learnt before, for the journal after
    // the program's own start line (at the first read-back at the latest).
    void decir_lo_aprendido();

    qint64 momento_de_lectura(qint64 desde_us) const {
        return seguimiento_.momento_de_lectura(desde_us);
    }
    void puesta(qint64 t_us, double desvio_s = 0);
    // When this run's sets landed (PC ms), the latest last; a few hundred
    // at most.
    const std::vector<qint64>& puestas_ms() const { return puestas_ms_; }

    // A read-back: its record, with a fine correction as its action when one
    // is due, written to the history, the metrics and the journal.
    Registro lectura(const LecturaHecha& l, int intervalo_min);
    // A port failure outside a read-back.
    void error_puerto();

    void fijar_umbral(std::optional<int> umbral_ms) { umbral_ms_ = umbral_ms; }
    std::optional<int> umbral() const { return umbral_ms_; }
    // The offset (s) the fine correction the last read-back asked for
    // should leave; 0 for any other set.
    double desvio_de_correccion_fina_s() const;
    EstadoFino estado_fino() const;
    const std::optional<Registro>& ultimo() const { return ultimo_; }
    const SeguimientoReloj& seguimiento() const { return seguimiento_; }

private:
    void escribir_metricas();
    void cargar_aprendido(qint64 ahora_us);
    void decir_luego(Prioridad p, const QString& linea);
    void guardar_aprendido(qint64 t_us);
    void anotar(const Registro& r, const LecturaHecha& l);

    // The history's fault said last; empty while it is written as it should.
    QString fallo_historial_;
    std::vector<qint64> puestas_ms_;
    // The port and line what is learnt belongs to.
    QString clave_;
    std::optional<Registro> ultimo_;
    // When the fine corrections of the last hour were made (PC µs).
    std::deque<qint64> finas_;
    Opciones opciones_;
    Metricas metricas_;
    SeguimientoReloj seguimiento_;
    std::optional<int> umbral_ms_;
    bool metricas_fallando_ = false;
    bool limite_dicho_ = false;
    // A clock seconds off, in its minute: warned once until it is on time.
    bool desviado_dicho_ = false;
    // Whether the offset is unknown since a read contradicted it.
    bool en_duda_ = false;
    // Whether keeping what was learnt failed (said once).
    bool aprendido_fallando_ = false;
    std::optional<bool> pc_sincronizado_;
    std::optional<std::pair<Prioridad, QString>> aprendido_por_decir_;
};

} // namespace quarvel
