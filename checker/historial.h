#pragma once

#include "clock_link/bitacora.h"
#include "clock_link/historial.h"

#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QChart;
class QChartView;
class QCheckBox;
class QLabel;
class QSpinBox;
class QPushButton;

namespace quarvel430 {

// What the history window reads and changes.
struct FuentesHistorial {
    // The history's rows; `recortado` set when only its newest part was read.
    std::function<std::vector<quarvel::FilaHistorial>(bool& recortado)> filas =
        [](bool& recortado) {
            return quarvel::leer_historial(quarvel::kArchivoHistorial, &recortado);
        };
    // Sets this run made that no history line marks (the start-up's), PC ms.
    std::function<std::vector<qint64>()> puestas;
    std::function<qint64()> ahora_ms;
    // The checker's last read-back, for the drift with its bound.
    std::function<std::optional<quarvel::Registro>()> ultimo;
    std::function<quarvel::EstadoPc()> estado_pc;
    std::function<std::optional<int>()> umbral;
    // Whether fine correction acts now, and why not.
    std::function<quarvel::EstadoFino()> estado_fino;
    // Saves the fine correction's threshold; throws Fallo.
    std::function<void(std::optional<int>)> fijar_umbral;
};

// Points a plot of `filas` between two moments keeps: at most two per
// bucket (its lowest and highest offset), so a month draws as fast as a day.
// Rows whose figures cannot be drawn (beyond a few hours) are left out and
// counted. The line and its band part where no figure comes for more than
// 2.5 times the median spacing of the range's read-backs and 3 minutes.
struct Trazo {
    std::vector<std::pair<qint64, double>> desvio, cota_alta, cota_baja, correcciones, silencios;
    // Where each piece of line and band begins, in `desvio` and in the
    // bounds (both ascending, the first at 0).
    struct Tramo {
        std::size_t desvio = 0;
        std::size_t cota = 0;
    };
    std::vector<Tramo> tramos;
    long omitidas = 0;
};
Trazo trazar(const std::vector<quarvel::FilaHistorial>& filas, qint64 desde_ms, qint64 hasta_ms,
             int cubos);

// A time axis on whole units: its first and last moment and how many ticks
// (at most `marcas_max`), every one on a whole minute, hour or day (local
// time) as the span asks.
struct EjeTiempo {
    qint64 desde_ms = 0;
    qint64 hasta_ms = 0;
    int marcas = 2;
    QString formato;
};
EjeTiempo eje_de_tiempo(qint64 desde_ms, qint64 hasta_ms, int marcas_max = 13);

// Where a plot of a range ending at `ahora_ms` begins: at the range's start,
// or, when the read-backs and sets (`puestas_ms`) in it begin later, just
// before the first of them, with at least kLapsoMinimoMs shown: short
// enough that the first minutes' read-backs spread over the plot, long
// enough for three whole-minute ticks around a lone one.
inline constexpr qint64 kLapsoMinimoMs = 2 * 60'000;
qint64 inicio_ajustado(const std::vector<quarvel::FilaHistorial>& filas,
                       const std::vector<qint64>& puestas_ms, qint64 inicio_ms, qint64 ahora_ms);

// "Historial": the clock's offset over time with its bound, corrections and
// silent read-backs marked; the drift in words, the PC's sync state, and the
// fine correction's setting.
class VentanaHistorial : public QWidget {
    Q_OBJECT
public:
    enum class Rango { Hora, DesdePuesta, Dia, Semana, Mes };

    explicit VentanaHistorial(FuentesHistorial fuentes, QWidget* parent = nullptr);

    // Reads the history again and draws the range (after each read-back).
    void recargar();
    void mostrarRango(Rango r);
    Rango rango() const { return rango_; }

    QChartView* grafico = nullptr;
    QLabel* deriva = nullptr;
    QLabel* estado_pc = nullptr;
    QLabel* aviso = nullptr;
    // Whether fine correction acts now, and why not.
    QLabel* fino = nullptr;
    // Rows left out of the plot, a history cut to its newest part.
    QLabel* omitidas = nullptr;
    QCheckBox* corregir = nullptr;
    QSpinBox* umbral = nullptr;

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void dibujar();
    // The axis for the chart's width now: as many ticks as labels fit.
    EjeTiempo eje_para(qint64 desde_ms, qint64 hasta_ms) const;
    // How many ticks with labels in `formato` the chart has room for.
    int marcas_max(const QString& formato) const;
    void umbral_cambiado();

    FuentesHistorial fuentes_;
    std::vector<quarvel::FilaHistorial> filas_;
    bool recortado_ = false;
    Rango rango_ = Rango::Dia;
    // The tick count the chart was drawn for; a resize that changes it
    // redraws.
    int marcas_dibujadas_ = 0;
    std::vector<std::pair<QPushButton*, Rango>> rangos_;
};

} // namespace quarvel430
