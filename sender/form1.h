#pragma once

#include "clock_link/enlace_reloj.h"
#include "clock_link/transmision.h"

#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace quarvel {
class CajaMensajes;
class FuenteHora;
class PuertoSerie;
class Temporizador;
} // namespace quarvel

namespace quarvel38 {

// What the window talks to; the program passes the real ones, tests fakes.
struct Entorno {
    quarvel::PuertoSerie* puerto = nullptr;
    const quarvel::FuenteHora* hora = nullptr;
    quarvel::CajaMensajes* mensajes = nullptr;
    // Opens the configuration window modally.
    std::function<void(QWidget*)> configurar;
};

// The sender's main window, "Quarvel 3.8".
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(Entorno entorno, QWidget* parent = nullptr);
    ~Form1() override;

    void Form_Load();
    void Form_Unload();

    // Display and scheduler.
    void Timer2_Timer();
    void Command1_Click(); // "Inicio"
    void Command2_Click(); // "Parar"
    void Command3_Click(); // "Grabar"
    void Timer1_Timer();
    void Timer3_Timer();

    // Transmission sequence.
    void Command4_Click(); // "Enviar"
    void Timer4_Timer();
    void Timer5_Timer();
    void Timer6_Timer();
    void Timer7_Timer();
    void Timer8_Timer();
    void Timer9_Timer();
    void Timer10_Timer();

    // Display mode and auxiliary buttons.
    void Check1_Click();
    void Command6_Click();
    void Timer11_Timer();
    void Timer12_Timer();
    void Command7_Click();
    void Command5_Click(); // "Configurar"

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QPushButton* Command7;
    QCheckBox* Check1;
    QStatusBar* StatusBar1;
    std::array<QLabel*, 10> Panels{};
    quarvel::PuertoSerie* MSComm1;

    quarvel::Temporizador* Timer1;
    quarvel::Temporizador* Timer2;
    quarvel::Temporizador* Timer3;
    quarvel::Temporizador* Timer4;
    quarvel::Temporizador* Timer5;
    quarvel::Temporizador* Timer6;
    quarvel::Temporizador* Timer7;
    quarvel::Temporizador* Timer8;
    quarvel::Temporizador* Timer9;
    quarvel::Temporizador* Timer10;
    quarvel::Temporizador* Timer11;
    quarvel::Temporizador* Timer12;

    // Sender state; an empty counter counts as 0.
    std::optional<long> contador_minutos;
    quarvel::DatosEnvio datos;

    // Last port failure shown to the user (empty when none yet).
    QString ultimoFalloPuerto() const { return ultimo_fallo_; }

protected:
    void closeEvent(QCloseEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;

private:
    void informar_fallo(const QString& descripcion);
    void paso(quarvel::Temporizador* propio, char letra, const std::optional<int>& valor,
              quarvel::Temporizador* siguiente);
    void restaurar_modo(quarvel::Temporizador* propio);
    void cambiar_modo();
    void indicador(bool encendido);

    Entorno entorno_;
    quarvel::EnlaceReloj enlace_;
    bool descargado_ = false;
    QString ultimo_fallo_;
};

} // namespace quarvel38
