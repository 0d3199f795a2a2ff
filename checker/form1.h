#pragma once

#include "clock_link/bitacora.h"
#include "clock_link/plan_envio.h"
#include "clock_link/seguimiento.h"
#include "main_window/ventana_principal.h"
#include "platform/gui/bandeja.h"

#include <QByteArray>
#include <optional>

class QAction;
class QMenu;
class QTimer;

namespace quarvel430 {

// What the window talks to; the tray's notify-icon call and whether there is
// a tray at all besides the rest.
struct Entorno : quarvel::Entorno {
    std::function<bool(std::uint32_t, const quarvel::NotifyIconData*)> notificar =
        quarvel::Shell_NotifyIconA;
    std::function<bool()> hay_bandeja = quarvel::bandeja_disponible;
    // Calls back when a tray's watcher comes onto the bus (a late panel).
    std::function<void(QObject*, std::function<void()>)> al_llegar_bandeja =
        quarvel::al_llegar_bandeja;
    // The PC's own clock, read at each read-back.
    std::function<quarvel::EstadoPc()> estado_pc = quarvel::estado_reloj_pc;
    // Where the metrics file goes after each read-back; empty for nowhere.
    QString metricas;
};

// The checker's main window, "Quarvel 4.3".
class Form1 : public quarvel::VentanaPrincipal, public quarvel::ReceptorBandeja {
    Q_OBJECT
public:
    explicit Form1(Entorno entorno, QWidget* parent = nullptr);
    ~Form1() override;

    void Form_Load() override;
    void Form_Unload() override;
    void Form_MouseMove(int button, int shift, int x, int y);
    void restaurar_Click();

    void Timer2_Timer();
    void Timer1_Timer();
    void Timer4_Timer();
    void Command1_Click(); // "Inicio"
    void Command2_Click(); // "Parar"
    void Command5_Click(); // "Configurar"
    void Check1_Click();   // "Cambiar"
    void MSComm1_OnComm();

    void chekeo_de_datos();
    // A read-back as the scheduler starts it at second 31, in the current
    // second instead: its request goes out at its chosen moment.
    void iniciarChequeo();
    void actualizacion_completa(long envio_de_dato);

    void mensajeBandeja(std::uint32_t mensaje, std::uint32_t id) override;
    QString tituloBandeja() const override { return windowTitle(); }
    QMenu* menuBandeja() override { return menu; }
    // The tray went away with the window hidden in it: the window comes back.
    void iconoVisible(bool visible) override;

    // Whether start-up sent the window to the tray.
    bool enBandeja() const override { return en_bandeja_; }
    // As "Restaurar" does.
    void volverAMostrar() override { restaurar_Click(); }
    // A read-back within the second, or at second 10 when the minute is
    // about to turn, whatever the interval's count.
    void chequearPronto() override;
    // Adds the icon if there is a tray now and hides the window; start-up
    // keeps trying for a few seconds while there is none.
    bool reintentar_bandeja();

    QLabel* Label7;
    QLabel* Label8;
    QLabel* Image1;
    QPushButton* Command3;
    QMenu* menu;
    QAction* restaurar;
    // How well the clock is kept: the last read-back in a line, and the
    // history window from the button and the tray's menu.
    QLabel* Label9;
    QPushButton* Command6; // "Historial"
    QAction* historial;
    void historial_Click();
    class VentanaHistorial* ventanaHistorial() const {
        return ventana_historial_;
    }

    quarvel::Temporizador* Timer1;
    quarvel::Temporizador* Timer2;
    quarvel::Temporizador* Timer4;

    // Checker state; empty reads as 0 and equals no number.
    std::optional<long> paso_actualizacion;
    std::optional<long> parpadeo_activo;
    std::optional<long> contador_parpadeo;
    std::optional<long> contador_reloj;
    std::optional<long> chekeo_pendiente;
    std::optional<long> contador_intervalo;
    std::optional<long> estado_chekeo;
    QByteArray dato_dia, dato_mes, dato_anio, dato_hora, dato_minutos, dato_segundos;
    quarvel::NotifyIconData icono_bandeja{};

    // The last update planned.
    const quarvel::PlanDeEnvio& planActualizacion() const { return plan_; }
    // What the last read-back found, and how well the clock is kept.
    const std::optional<quarvel::Registro>& ultimoRegistro() const { return bitacora_.ultimo(); }
    // A read-back waits for its moment inside second 31.
    bool lecturaEnEspera() const { return lectura_en_espera_; }
    // The fine correction's threshold; none is off.
    std::optional<int> umbralFino() const { return bitacora_.umbral(); }
    // Whether fine correction acts now, and why not.
    quarvel::EstadoFino estadoFino() const { return bitacora_.estado_fino(); }
    // Saves it to its file first; throws Fallo when that fails.
    void fijarUmbralFino(std::optional<int> umbral_ms);
    // The line under the buttons: two lines at most, each cut to the width,
    // the whole in its tooltip with `completo` after it.
    void mostrarEstado(const QString& lineas, const QString& completo);

protected:
    void mouseMoveEvent(QMouseEvent* evento) override;
    void informar_fallo(const QString& descripcion) override;

private:
    // A complete update: planned from now, its date and time kept for the
    // steps, Timer4 started at its moment.
    void iniciar_actualizacion();
    bool actualizando() const;
    // The port answers again after a failure.
    void recuperado();
    void refresco_del_reloj();
    void cuenta_del_intervalo();
    void chequeo_debido();
    void parpadeo();
    void fijar_tip(const QString& texto);
    // The 64-byte tip and the whole text where the tray shows one.
    void mostrar_en_bandeja(const QString& tip, const QString& detalle);
    void sumar_contador(QLabel* contador);
    // "Quarvel 4.3 (COM1)": what the tray says the icon is.
    QString titulo_bandeja() const;
    // What the last read-back found, under the icon; `atencion` marks it.
    void estado_en_bandeja(const QString& detalle, bool atencion);
    // The read-back at its moment, unless an update started meanwhile.
    void leer_a_su_hora();
    // What the read-back told, besides the designed comparison: the
    // estimate, the history line, the metrics, the journal, a fine
    // correction. Returns whether the clock is to be set for it.
    bool seguir_lectura(qint64 t_us, qint64 escritura_us, const quarvel::LecturaReloj& lectura,
                        bool completa, bool equivocado);

    std::function<bool(std::uint32_t, const quarvel::NotifyIconData*)> notificar_;
    std::function<bool()> hay_bandeja_;
    std::function<void(QObject*, std::function<void()>)> al_llegar_bandeja_;
    std::uint32_t hwnd_ = 0;
    bool en_bandeja_ = false;
    bool icono_agregado_ = false;
    bool tip_con_aviso_ = false;
    bool en_chekeo_ = false;
    bool pedido_ = false;
    int intentos_bandeja_ = 0;
    // The interval in whole minutes the checks count to.
    long intervalo_ = 1;
    quarvel::PlanDeEnvio plan_;
    std::function<quarvel::EstadoPc()> estado_pc_;
    // Where the metrics file goes; empty for nowhere.
    QString metricas_;
    quarvel::BitacoraLecturas bitacora_;
    // How late the last update's seconds byte went out (µs).
    qint64 retraso_segundos_us_ = 0;
    quarvel::FuenteHora::Id cita_lectura_ = 0;
    bool lectura_en_espera_ = false;
    QTimer* espera_bandeja_ = nullptr;
    class VentanaHistorial* ventana_historial_ = nullptr;
};

} // namespace quarvel430
