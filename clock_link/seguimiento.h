#pragma once

#include "clock_link/decodificacion.h"
#include "clock_link/estimador.h"
#include "platform/estado_pc.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace quarvel {

// How well the clock is kept, read-back after read-back: when each request
// goes out, what each reply tells of the offset and drift, and the history
// line each one leaves.

enum class Resultado { Bien, Mal, SinRespuesta, ErrorPuerto };
enum class Accion { Ninguna, Actualizacion, CorreccionFina };

// One read-back.
struct Registro {
    qint64 t_us = 0; // when the request went out, PC microseconds
    Resultado resultado = Resultado::Bien;
    EstimadorDesvio::Estimacion estimacion;
    std::optional<bool> pc_sincronizado;
    Accion accion = Accion::Ninguna;
};

class SeguimientoReloj {
public:
    // When, from `desde_us` on and inside that same second, the request goes
    // out to tell the most; at once before anything is known.
    qint64 momento_de_lectura(qint64 desde_us) const;

    // A set whose seconds landed at `t_us`.
    void puesta(qint64 t_us) { estimador_.puesta(t_us); }

    // The read-back of a request written at `t_us`: a complete reply feeds
    // the estimate; `equivocado` is the designed comparison's verdict.
    Registro lectura(qint64 t_us, const LecturaReloj& reloj, bool completa, bool error_puerto,
                     bool equivocado, const EstadoPc& pc);

    EstimadorDesvio::Estimacion en(qint64 t_us) const { return estimador_.en(t_us); }

private:
    EstimadorDesvio estimador_;
};

// The words the history uses: "bien", "sin_respuesta"...; "ninguna"...
const char* nombre_de_resultado(Resultado r);
const char* nombre_de_accion(Accion a);

// Whether a clock kept within `umbral_ms` needs a set now: its offset is
// beyond the threshold by more than its bound, or will be by the next
// read-back `intervalo_s` on, as its drift carries it.
bool corregir_fino(const EstimadorDesvio::Estimacion& e, double umbral_ms, double intervalo_s);

// --- The history file ------------------------------------------------------

inline const QString kArchivoHistorial = QStringLiteral("historial.csv");
inline constexpr char kCabeceraHistorial[] =
    "hora_pc;resultado;desvio_ms;cota_ms;deriva_ppm;deriva_s_dia;pc_sincronizado;accion";
// Past this size the history moves to "historial.csv.1".
inline constexpr qint64 kHistorialMaximo = 5'000'000;

QByteArray linea_historial(const Registro& r);
// Appends the line whole or not at all, the header first in a new file;
// past `maximo` the file moves aside first. Throws Fallo.
void anexar_historial(const QString& nombre, const QByteArray& linea,
                      qint64 maximo = kHistorialMaximo);

struct FilaHistorial {
    qint64 t_ms = 0;
    Resultado resultado = Resultado::Bien;
    std::optional<double> desvio_ms, cota_ms, deriva_ppm;
    std::optional<bool> pc_sincronizado;
    Accion accion = Accion::Ninguna;
};

// The rows of a history's text; lines that make no row are skipped.
std::vector<FilaHistorial> filas_de_historial(const QByteArray& texto);
// The moved-aside file's rows, then the current one's, oldest first.
std::vector<FilaHistorial> leer_historial(const QString& nombre = kArchivoHistorial);

// --- In words ----------------------------------------------------------------

// "adelanta 0,8 s al día", "atrasa 12 s al día", or empty when unknown.
QString deriva_en_palabras(double deriva, double cota_deriva);
// "desvío +3,2 ms (±1,5)" and the drift, for a tooltip or a status bar.
QString resumen_de_registro(const Registro& r);
// Two short lines for the window: "07:35:31 en hora: desvío -1,4 ms (±18,4)"
// and the drift, with a PC that is not synchronised said after it.
QString resumen_breve(const Registro& r, const QString& hora);

} // namespace quarvel
