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
// counted.
struct Trazo {
    std::vector<std::pair<qint64, double>> desvio, cota_alta, cota_baja, correcciones, silencios;
    long omitidas = 0;
};
Trazo trazar(const std::vector<quarvel::FilaHistorial>& filas, qint64 desde_ms, qint64 hasta_ms,
             int cubos);

// A time axis on whole units: its first and last moment and how many ticks,
// every one on a whole hour or day (local time) for spans of hours or days.
struct EjeTiempo {
    qint64 desde_ms = 0;
    qint64 hasta_ms = 0;
    int marcas = 2;
    QString formato;
};
EjeTiempo eje_de_tiempo(qint64 desde_ms, qint64 hasta_ms);

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

private:
    void dibujar();
    void umbral_cambiado();

    FuentesHistorial fuentes_;
    std::vector<quarvel::FilaHistorial> filas_;
    bool recortado_ = false;
    Rango rango_ = Rango::Dia;
    std::vector<std::pair<QPushButton*, Rango>> rangos_;
};

} // namespace quarvel430
