#pragma once

#include "checker/bandeja_form.h"
#include "clock_link/chequeador.h"
#include "main_window/ventana_principal.h"

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
    // The window stays shown at start though a tray takes the icon.
    bool con_ventana = false;
};

// The checker's main window, "Quarvel 4.3". The checking itself runs in the
// Chequeador; the window starts it, forwards its handlers to it and shows
// what it tells.
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
    void iniciar_chequeo();

    void mensajeBandeja(std::uint32_t mensaje, std::uint32_t id) override;
    // With the port: two checkers (two clocks) tell apart on every tray.
    QString tituloBandeja() const override { return titulo_bandeja(); }
    QMenu* menuBandeja() override { return menu; }
    // The tray went away with the window hidden in it: the window comes back.
    void iconoVisible(bool visible) override;

    // Whether start-up sent the window to the tray.
    bool en_bandeja() const override { return en_bandeja_; }
    // As "Restaurar" does.
    void volver_a_mostrar() override { restaurar_Click(); }
    // A read-back within the second, or at second 10 when the minute is
    // about to turn, whatever the interval's count.
    void chequear_pronto() override;
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
    // A read-back at the next safe second, besides the one at 31.
    QAction* comprobar;
    void historial_Click();
    class VentanaHistorial* ventana_historial() const {
        return ventana_historial_;
    }

    // Timer1 and Timer4 are the cycle's; Timer2 ticks the display.
    quarvel::Temporizador* Timer1;
    quarvel::Temporizador* Timer2;
    quarvel::Temporizador* Timer4;

    // The display: tenths to the next refresh, and the indicator's blink.
    long contador_reloj = 0;
    bool parpadeo_activo = false;
    long contador_parpadeo = 0;
    quarvel::NotifyIconData icono_bandeja{};

    quarvel::Chequeador& chequeador() { return *chequeador_; }
    const quarvel::Chequeador& chequeador() const { return *chequeador_; }
    // What the last read-back found, and how well the clock is kept.
    const std::optional<quarvel::Registro>& ultimo_registro() const {
        return chequeador_->bitacora().ultimo();
    }
    // The fine correction's threshold; none is off.
    std::optional<int> umbral_fino() const { return chequeador_->bitacora().umbral(); }
    // Whether fine correction acts now, and why not.
    quarvel::EstadoFino estado_fino() const { return chequeador_->bitacora().estado_fino(); }
    // Saves it to its file first; throws Fallo when that fails.
    void fijar_umbral_fino(std::optional<int> umbral_ms);
    // The line under the buttons: two lines at most, each cut to the width,
    // the whole in its tooltip with `completo` after it.
    void mostrar_estado(const QString& lineas, const QString& completo);

protected:
    void mouseMoveEvent(QMouseEvent* evento) override;
    void informar_fallo(const QString& descripcion) override;

private:
    // The port answers again after a failure.
    void recuperado();
    void refresco_del_reloj();
    void parpadeo();
    // What a read-back found: the hidden counters, the line under the
    // buttons, the tray and the open history.
    void chequeado(const quarvel::ChequeoHecho& h);
    void fijar_tip(const QString& texto);
    // The 64-byte tip and the whole text where the tray shows one.
    void mostrar_en_bandeja(const QString& tip, const QString& detalle);
    // "Quarvel 4.3 (COM1)": what the tray says the icon is.
    QString titulo_bandeja() const;
    // What the last read-back found, under the icon; `atencion` marks it.
    void estado_en_bandeja(const QString& detalle, bool atencion);
    // The window's icon as the tray's: not yet checked, right, or failing.
    void pintar_icono();
    // The tray icon's record, and the icon in the tray (or a wait for one).
    void poner_icono();

    std::function<bool(std::uint32_t, const quarvel::NotifyIconData*)> notificar_;
    std::function<bool()> hay_bandeja_;
    std::function<void(QObject*, std::function<void()>)> al_llegar_bandeja_;
    std::uint32_t hwnd_ = 0;
    bool en_bandeja_ = false;
    bool con_ventana_ = false;
    bool icono_agregado_ = false;
    bool tip_con_aviso_ = false;
    // A reply agreed with the PC at the last read-back; the icon's green
    // mark shows only then.
    bool comprobado_ = false;
    bool atencion_ = false;
    // What start-up found unusable in the settings; empty when they work.
    QString fallo_ajustes_;
    std::uint32_t icono_bien_ = 0;
    std::uint32_t icono_sin_comprobar_ = 0;
    int intentos_bandeja_ = 0;
    std::function<quarvel::EstadoPc()> estado_pc_;
    // Where the metrics file goes; empty for nowhere.
    QString metricas_;
    quarvel::Chequeador* chequeador_ = nullptr;
    QTimer* espera_bandeja_ = nullptr;
    class VentanaHistorial* ventana_historial_ = nullptr;
};

} // namespace quarvel430
