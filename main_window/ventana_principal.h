#pragma once

#include "clock_link/enlace_reloj.h"
#include "platform/fuente_hora.h"
#include "platform/temporizador.h"

#include <QAbstractButton>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace quarvel {

class CajaMensajes;
class Fallo;
class PuertoSerie;
struct configuracion_ini;

// What a main window talks to; the programs pass the real ones, tests fakes.
struct Entorno {
    PuertoSerie* puerto = nullptr;
    FuenteHora* hora = nullptr;
    CajaMensajes* mensajes = nullptr;
    // Opens the configuration window modally.
    std::function<void(QWidget*)> configurar;
};

// Where the controls both windows show stand, in twips: what differs from
// one window to the other. The rest of the layout is one table, in
// VentanaPrincipal.
struct DisenoVentana {
    QString titulo;
    // The client area; the status bar runs along its bottom edge.
    int ancho = 0;
    int alto = 0;
    // Text1, the time.
    int izq_hora = 0;
    // Text3, the last time sent or checked, with its caption (Label2).
    int izq_ultimo = 0;
    QString leyenda_ultimo;
    int ancho_leyenda_ultimo = 0;
    // Text2, the interval, and its caption (Label3).
    int izq_intervalo = 0;
    int izq_leyenda_intervalo = 0;
};

// A window's timer: its name, interval and state at design time, where the
// window keeps it and what its tick runs.
template <class V> struct FilaTemporizador {
    const char* nombre;
    int intervalo;
    bool activo;
    Temporizador* V::*miembro;
    void (V::*manejador)();
};

// What the sender's and the checker's main windows share. The controls both
// show are laid out from one table; each window adds its own and connects
// its handlers, which call the helpers below.
class VentanaPrincipal : public QWidget {
    Q_OBJECT
public:
    ~VentanaPrincipal() override;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command5 = nullptr;
    QCheckBox* Check1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    std::array<QLabel*, 10> Panels{};
    PuertoSerie* MSComm1 = nullptr;

    // The last failure shown to the user (port or file); empty when none yet.
    const QString& ultimoFallo() const { return ultimo_fallo_; }

    // The window's load and unload; closing it runs the unload.
    virtual void Form_Load() = 0;
    virtual void Form_Unload() = 0;
    // Whether start-up sent the window away (to the tray).
    virtual bool en_bandeja() const { return false; }
    // A second start of the program asks for the window.
    virtual void volver_a_mostrar();
    // SIGUSR1: a program that reads the clock back does so now; the sender
    // has nothing to read.
    virtual void chequear_pronto() {}
    // A close nobody is there to answer (a signal): a failure on the way out
    // goes to stderr, not to a message box.
    void cerrarSinPreguntar();
    bool cerrando() const { return cerrando_; }
    // What stopped the start (settings that cannot work); empty when it ran.
    const QString& fallo_de_arranque() const { return fallo_de_arranque_; }

signals:
    // The window was closed: the program ends.
    void cerrada();

protected:
    VentanaPrincipal(Entorno entorno, const DisenoVentana& diseno, QWidget* parent);

    // The window's timers from their rows, each connected to its handler.
    template <class V> void temporizadores(std::initializer_list<FilaTemporizador<V>> filas) {
        auto* v = static_cast<V*>(this);
        for (const FilaTemporizador<V>& f : filas) {
            v->*f.miembro = temporizador(QString::fromLatin1(f.nombre), f.intervalo, f.activo);
            connect(v->*f.miembro, &Temporizador::Timer, v, f.manejador);
        }
    }
    // Buttons and the check box to their click handlers.
    template <class V>
    void clics(std::initializer_list<std::pair<QAbstractButton*, void (V::*)()>> filas) {
        for (const auto& [boton, manejador] : filas)
            connect(boton, &QAbstractButton::clicked, static_cast<V*>(this), manejador);
    }

    FuenteHora& hora() const { return *entorno_.hora; }
    Temporizador* temporizador(const QString& nombre, int intervalo, bool activo);

    // Start-up, once "qv.ini" is read: the port number and the settings to
    // the port, then the status bar from what the port reports back. Throws
    // Fallo at the step that fails.
    void configurar_puerto(const configuracion_ini& c);
    // A start-up failure: its description in a box titled "Inicio".
    void fallo_de_inicio(const Fallo& f);
    // Start-up's read of "qv_int.ini" into the interval field; throws Fallo.
    void leer_intervalo_al_inicio();
    // Start-up: a delay of "qv.ini" to its timer; a failure names the
    // section, never the timer.
    void fijar_retardo(Temporizador* t, const std::optional<QString>& valor,
                       const QString& seccion);
    // The interval field as whole minutes, 1 or more; empty when it holds
    // anything else (0, a negative number, a fraction, no number).
    std::optional<long> intervalo_valido() const;
    // The text that names the interval field's bad value.
    QString intervalo_no_valido(const QString& consecuencia) const;
    // A start-up warning: a box titled "Inicio", and start-up goes on.
    void aviso_de_inicio(const QString& texto);
    // The unload: the interval field back to "qv_int.ini" (a failure is said
    // in a box with the window's title), only over the file start-up read or
    // where there was none. False when it already ran.
    bool guardar_al_cerrar();
    bool descargada() const { return descargado_; }

    // The time and the date from one reading, so at midnight they agree.
    void refrescar_pantalla();
    // The "Enviando" indicator: its two looks, and the blink between them.
    void indicador(bool encendido);
    void parpadear();
    // "Cambiar": the clock's display mode and the label; a switch that never
    // reached the clock changes nothing, and the box follows the label.
    void cambiar_modo();
    // The mode the box asks for: what every exchange ends with.
    ModoPantalla modo() const;
    // "Configurar": the configuration window, modal.
    void configurar();

    // Microseconds per byte at the port's line settings.
    double us_por_byte() const;

    // A failure outside start-up (port, file): across the status bar for a
    // few seconds.
    virtual void informar_fallo(const QString& descripcion);

    void resizeEvent(QResizeEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;

    Entorno entorno_;
    EnlaceReloj enlace_;

private slots:
    void mensajeCambiado(const QString& texto);

private:
    // The controls both windows show, from the table.
    void disponer(const DisenoVentana& d);

    bool descargado_ = false;
    bool cerrando_ = false;
    bool sin_preguntar_ = false;
    bool intervalo_guardable_ = false;
    QString ultimo_fallo_;
    QString fallo_de_arranque_;
};

} // namespace quarvel
