#pragma once

#include "clock_link/enlace_reloj.h"
#include "platform/gui/bandeja.h"

#include <QByteArray>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;

namespace quarvel {
class CajaMensajes;
class FuenteHora;
class PuertoSerie;
class Temporizador;
} // namespace quarvel

namespace quarvel430 {

// What the window talks to; the program passes the real ones, tests fakes.
struct Entorno {
    quarvel::PuertoSerie* puerto = nullptr;
    const quarvel::FuenteHora* hora = nullptr;
    quarvel::CajaMensajes* mensajes = nullptr;
    // Opens the configuration window modally.
    std::function<void(QWidget*)> configurar;
    // The shell's notify-icon call and whether there is a tray at all.
    std::function<bool(std::uint32_t, const quarvel::NotifyIconData*)> notificar =
        quarvel::Shell_NotifyIconA;
    std::function<bool()> hay_bandeja = quarvel::bandeja_disponible;
};

// The checker's main window, "Quarvel 4.3".
class Form1 : public QWidget, public quarvel::ReceptorBandeja {
    Q_OBJECT
public:
    explicit Form1(Entorno entorno, QWidget* parent = nullptr);
    ~Form1() override;

    void Form_Load();
    void Form_Unload();
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
    void actualizacion_completa(long envio_de_dato);

    void mensajeBandeja(std::uint32_t mensaje, std::uint32_t id) override;

    // Whether start-up sent the window to the tray.
    bool enBandeja() const { return en_bandeja_; }
    // Adds the icon if there is a tray now and hides the window; start-up
    // keeps trying for a few seconds while there is none.
    bool reintentar_bandeja();

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Image1;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command5;
    QCheckBox* Check1;
    QStatusBar* StatusBar1;
    std::array<QLabel*, 10> Panels{};
    QMenu* menu;
    QAction* restaurar;
    quarvel::PuertoSerie* MSComm1;

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

    QString ultimoFalloPuerto() const { return ultimo_fallo_; }

signals:
    // The window was closed: the program ends.
    void cerrada();

protected:
    void closeEvent(QCloseEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    void mouseMoveEvent(QMouseEvent* evento) override;

private:
    void informar_fallo(const QString& descripcion);
    void indicador(bool encendido);
    void fijar_tip(const QString& texto);
    void sumar_contador(QLabel* contador);

    Entorno entorno_;
    quarvel::EnlaceReloj enlace_;
    std::uint32_t hwnd_ = 0;
    bool en_bandeja_ = false;
    bool icono_agregado_ = false;
    bool tip_con_aviso_ = false;
    bool descargado_ = false;
    bool en_chekeo_ = false;
    int intentos_bandeja_ = 0;
    // The date and time an update sends, taken at its first step.
    QString fecha_envio_, hora_envio_;
    QTimer* espera_bandeja_ = nullptr;
    QString ultimo_fallo_;
};

} // namespace quarvel430
