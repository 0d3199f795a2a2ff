#pragma once

#include "clock_link/seguimiento.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace quarvel {

// The history file: one line per read-back, appended whole, and read back
// for the "Historial" window.

inline const QString kArchivoHistorial = QStringLiteral("historial.csv");
inline constexpr char kCabeceraHistorial[] = "hora_pc;resultado;desvio_ms;cota_ms;deriva_ppm;"
                                             "deriva_s_dia;pc_sincronizado;accion;cota_deriva_ppm";
// Past this size the history moves to "historial.csv.1".
inline constexpr qint64 kHistorialMaximo = 5'000'000;

// The words the history (and the metrics' labels) use: "bien",
// "sin_respuesta"...; "ninguna"...
const char* nombre_de_resultado(Resultado r);
const char* nombre_de_accion(Accion a);

QByteArray linea_historial(const Registro& r);
// Appends the line whole or not at all, the header first in a new file;
// past `maximo` the file moves aside first. A file that cannot move still
// gets the line, and what stopped the move is returned. Throws Fallo when
// the line cannot be written.
QString anexar_historial(const QString& nombre, const QByteArray& linea,
                         qint64 maximo = kHistorialMaximo);

struct FilaHistorial {
    qint64 t_ms = 0;
    Resultado resultado = Resultado::Bien;
    std::optional<double> desvio_ms, cota_ms, deriva_ppm, cota_deriva_ppm;
    std::optional<bool> pc_sincronizado;
    Accion accion = Accion::Ninguna;
};

// The rows of a history's text; lines that make no row are skipped.
std::vector<FilaHistorial> filas_de_historial(const QByteArray& texto);
// The moved-aside file's rows, then the current one's, oldest first. Of a
// file larger than it reads, its newest part; `recortado` then says so.
std::vector<FilaHistorial> leer_historial(const QString& nombre = kArchivoHistorial,
                                          bool* recortado = nullptr);

} // namespace quarvel
