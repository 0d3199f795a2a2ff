#pragma once

#include "main_window/ventana_principal.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QWidget;

namespace quarvel {

// What tells one program from the other at its start.
struct Programa {
    // Its command ("Quarvel430"), also the name of its lock in the folder.
    QString nombre;
    // Its desktop entry, without ".desktop".
    QString escritorio;
    // One line for --help.
    QString descripcion;
    // Whether it can run as a service: --sin-ventana and --metricas.
    bool servicio = false;
};

// What the command line asks of a run beyond the defaults.
struct OpcionesDeArranque {
    // No display, no window, no tray: what boxes would say goes to the journal.
    bool sin_ventana = false;
    // The window shown at start even where a tray takes the icon.
    bool con_ventana = false;
    // Only ask the one running in this folder for a read-back, then end.
    bool comprobar = false;
    // Only ask the one running in this folder to close, wait for it, then end.
    bool salir = false;
    // Windows: the service it runs as (--servicio), empty for none.
    QString servicio;
    // Where the metrics file goes; empty for none.
    QString metricas;
};

// --carpeta-de-usuario: moves to the user's folder, seeding ready settings
// where there are none. Empty when done, otherwise what went wrong.
QString usar_carpeta_de_usuario();

// The command line, answered before any display is needed: --help and
// --version print and give 0; an option it does not know (Qt's own aside) or
// an argument is one line on stderr and gives 2; without a display to open,
// one line says so and gives 1. Empty when the program goes on.
std::optional<int> atender_linea_de_ordenes(int argc, char** argv, const Programa& p,
                                            OpcionesDeArranque* opciones = nullptr);

// Whether there is a display to open, by the platform Qt would use (its
// -platform option or QT_QPA_PLATFORM; otherwise Wayland or X11).
bool hay_pantalla(int argc, char** argv);

// Names, version and icon of the running application.
void preparar_aplicacion(const Programa& p);

// One instance of a program per working folder: a lock in the folder (a lock
// left by a program that died is taken over) and a local socket only its
// user can reach, by which a second start asks the first to show its window.
// In a folder that cannot be written the server's own name decides who is
// first.
class InstanciaUnica : public QObject {
    Q_OBJECT
public:
    // What a second start asks of the first.
    enum class Pedido { Mostrar, Comprobar, Salir };
    // `sin_ventana`: this start runs with no window (a service); a second
    // start is then told so instead of being shown a window.
    explicit InstanciaUnica(const QString& nombre, QObject* parent = nullptr,
                            bool sin_ventana = false, Pedido pedido = Pedido::Mostrar);
    ~InstanciaUnica() override;

    // Another instance runs in this folder and was asked to show itself.
    bool otraEnMarcha() const { return otra_; }
    // The one that runs said it has no window to show (a service).
    bool primeraSinVentana() const { return primera_sin_ventana_; }
    // The one that runs took the read-back asked for.
    bool lecturaPedida() const { return lectura_pedida_; }
    // The one that runs took the request to close.
    bool salidaPedida() const { return salida_pedida_; }
    // Why this start cannot run here (a lock another user holds or left);
    // empty when it can.
    const QString& impedimento() const { return impedimento_; }
    // Said at start when the folder cannot be written (no lock, and none of
    // the program's files, can be made there); empty otherwise.
    QString avisoDeCarpeta() const;
    // The socket a second start reaches; empty when none listens.
    QString servidor() const;

signals:
    // A second start asked for the window.
    void mostrar();
    // A second start asked for a read-back.
    void comprobar();
    // A second start (--salir) asked it to close.
    void salir();

private:
    void escuchar();
    void atender();
    // Asks the instance that runs to show its window.
    void avisar_a_la_primera();

    std::unique_ptr<QLockFile> bloqueo_;
    std::shared_ptr<void> exclusion_;
    QLocalServer* servidor_ = nullptr;
    QString ruta_;
    QString impedimento_;
    QList<QPointer<QLocalSocket>> abiertas_;
    bool otra_ = false;
    bool sin_escritura_ = false;
    bool sin_ventana_ = false;
    bool primera_sin_ventana_ = false;
    bool lectura_pedida_ = false;
    bool salida_pedida_ = false;
    Pedido pedido_ = Pedido::Mostrar;
};

// Where a program's local socket for a folder lives: the user's runtime
// folder, or else a folder of the user's own under the system's temporary
// one.
QString nombre_de_servidor(const QString& nombre, const QString& carpeta);

// A program's whole run: its command line, the application, one instance per
// folder, the real serial port, clock and message box, and its window, built
// by `crear`, loaded, centred and shown unless it went to the tray; closing
// it, or a signal, ends the run with 0.
int ejecutar(int argc, char** argv, const Programa& p,
             const std::function<std::unique_ptr<VentanaPrincipal>(
                 const Entorno&, const OpcionesDeArranque&)>& crear);

// Closes the window as closing it does, without asking; one already closing
// (a box of its own waits for a click) ends the program at once. `por_que`,
// when given, goes to the journal first, once.
void cerrar_a_peticion(VentanaPrincipal* ventana, const QString& por_que = {});

// SIGTERM, SIGINT and SIGHUP (logout, kill, Ctrl-C) close the window the
// normal way, so its unload runs, and the program ends with 0; a failure on
// the way out goes to stderr. A signal while the window is closing ends the
// program at once. SIGUSR1 asks for a read-back now (chequear_pronto).
void cerrar_con_senales(VentanaPrincipal* ventana);

} // namespace quarvel
