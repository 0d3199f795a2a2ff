#pragma once

#include "clock_link/seguimiento.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace quarvel {

// What a site watches of one clock, in the text format of the node
// exporter's textfile collector.
struct Metricas {
    // The labels: the settings folder and the port.
    QString carpeta;
    QString puerto;
    qint64 inicio_s = 0;
    std::optional<Registro> ultimo;
    // When the clock last answered, in PC seconds; the start until it does,
    // so a clock silent from the start is seen as silent.
    std::optional<qint64> ultima_respuesta_s;
    long lecturas = 0;
    // Read-backs with no answer or no port.
    long fallidas = 0;
    // Sets a read-back called for: a wrong or silent clock, a fine correction.
    long correcciones = 0;
    long errores_puerto = 0;
    // Reads that contradicted what the estimate knew.
    long contradicciones = 0;
    // Sets that reads showed had not taken.
    long puestas_no_tomadas = 0;
    // False when the checker ended on settings that cannot work: only the
    // start and this are written then.
    bool ajustes_validos = true;
};

QByteArray texto_metricas(const Metricas& m);

// The exit status of a checker with no window whose settings cannot work
// (sysexits' EX_CONFIG): its units do not start it again on it.
inline constexpr int kEstadoAjustesNoValidos = 78;

// The file's name for a settings folder: two folders never share one.
QString nombre_metricas(const QString& carpeta);

} // namespace quarvel
