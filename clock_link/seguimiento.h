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
    // Not valid where nothing honest can be said of the clock.
    EstimadorDesvio::Estimacion estimacion;
    // What the reply did to the estimate; Coherente when there was none.
    EstimadorDesvio::Veredicto veredicto = EstimadorDesvio::Veredicto::Coherente;
    std::optional<bool> pc_sincronizado;
    Accion accion = Accion::Ninguna;
};

// How long before its second ends a request may be aimed at the latest, so
// that one the scheduler writes late still starts inside that second. Under
// load with both cores busy the checker's write ran up to about 30 ms after
// its moment (see the README); this leaves several times that.
inline constexpr qint64 kMargenFinDeSegundoUs = 20'000;

class SeguimientoReloj {
public:
    SeguimientoReloj() = default;
    explicit SeguimientoReloj(const LimitesEstimador& limites)
        : estimador_(limites) {}

    // When, from `desde_us` on and inside that same second (short of its
    // last kMargenFinDeSegundoUs), the request goes out to tell the most; at
    // once before anything is known.
    qint64 momento_de_lectura(qint64 desde_us) const;

    // A set whose seconds landed at `t_us`, leaving the clock `desvio_s` off.
    void puesta(qint64 t_us, double desvio_s = 0) { estimador_.puesta(t_us, desvio_s); }

    // The read-back of a request whose write began at `t_us` and took
    // `escritura_us`: a complete reply feeds the estimate; `equivocado` is
    // the designed comparison's verdict. A read that tells nothing of the
    // clock (no reply, no port) leaves the record's estimate not valid.
    Registro lectura(qint64 t_us, const LecturaReloj& reloj, bool completa, bool error_puerto,
                     bool equivocado, const EstadoPc& pc, qint64 escritura_us = 0);

    EstimadorDesvio::Estimacion en(qint64 t_us) const { return estimador_.en(t_us); }
    const EstimadorDesvio& estimador() const { return estimador_; }

private:
    EstimadorDesvio estimador_;
};

// The words the history uses: "bien", "sin_respuesta"...; "ninguna"...
const char* nombre_de_resultado(Resultado r);
const char* nombre_de_accion(Accion a);

// Whether a clock kept within `umbral_ms` needs a set now: its offset is
// surely beyond the threshold (by more than its bound), or surely will be
// by the next read-back `intervalo_s` on, as its drift carries it.
bool corregir_fino(const EstimadorDesvio::Estimacion& e, double umbral_ms, double intervalo_s);

// --- The history file ------------------------------------------------------

inline const QString kArchivoHistorial = QStringLiteral("historial.csv");
inline constexpr char kCabeceraHistorial[] = "hora_pc;resultado;desvio_ms;cota_ms;deriva_ppm;"
                                             "deriva_s_dia;pc_sincronizado;accion;cota_deriva_ppm";
// Past this size the history moves to "historial.csv.1".
inline constexpr qint64 kHistorialMaximo = 5'000'000;

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

// --- In words ----------------------------------------------------------------

// Whether a drift is known well enough to be said as a figure: its bound
// within a fifth of its value, or within 1 s a day.
bool deriva_conocida(double deriva, double cota_deriva);
// "adelanta 0,8 s al día", "atrasa 12 s al día", or "deriva aún incierta
// (±29 s al día)" until it is known.
QString deriva_en_palabras(double deriva, double cota_deriva);
// "desvío +3,2 ms (±1,5 ms)", or "desvío desconocido" when not valid.
QString texto_desvio(const EstimadorDesvio::Estimacion& e);
// A sentence: "El reloj adelanta 0,8 s al día", "La deriva del reloj es aún
// incierta (±29 s al día)".
QString frase_deriva(double deriva, double cota_deriva);
// "desvío +3,2 ms (±1,5 ms)" and the drift, or "desvío desconocido", for a
// tooltip or a status bar.
QString resumen_de_registro(const Registro& r);
// Two short lines for the window: "07:35:31 en hora: desvío -1,4 ms (±18,4
// ms)" and the drift, with a PC that is not synchronised said after it.
QString resumen_breve(const Registro& r, const QString& hora);

} // namespace quarvel
