#pragma once

#include "clock_link/bitacora.h"

#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QChart;
class QChartView;
class QCheckBox;
class QLabel;
class QSpinBox;
class QButtonGroup;

namespace quarvel430 {

// What the history window reads and changes.
struct FuentesHistorial {
    std::function<std::vector<quarvel::FilaHistorial>()> filas = [] {
        return quarvel::leer_historial();
    };
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
struct Trazo {
    std::vector<std::pair<qint64, double>> desvio, cota_alta, cota_baja, correcciones, silencios;
};
Trazo trazar(const std::vector<quarvel::FilaHistorial>& filas, qint64 desde_ms, qint64 hasta_ms,
             int cubos);

// "Historial": the clock's offset over time with its bound, corrections and
// silent read-backs marked; the drift in words, the PC's sync state, and the
// fine correction's setting.
class VentanaHistorial : public QWidget {
    Q_OBJECT
public:
    enum class Rango { Dia, Semana, Mes };

    explicit VentanaHistorial(FuentesHistorial fuentes, QWidget* parent = nullptr);

    // Reads the history again and draws the range.
    void recargar();
    void mostrarRango(Rango r);
    Rango rango() const { return rango_; }

    QChartView* grafico = nullptr;
    QLabel* deriva = nullptr;
    QLabel* estado_pc = nullptr;
    QLabel* aviso = nullptr;
    // Whether fine correction acts now, and why not.
    QLabel* fino = nullptr;
    QCheckBox* corregir = nullptr;
    QSpinBox* umbral = nullptr;

private:
    void dibujar();
    void umbral_cambiado();

    FuentesHistorial fuentes_;
    std::vector<quarvel::FilaHistorial> filas_;
    Rango rango_ = Rango::Dia;
    QButtonGroup* rangos_ = nullptr;
};

} // namespace quarvel430
