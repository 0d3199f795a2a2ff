#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

// What a program's start asks of the system it runs on: one file for each
// (programa_linux.cpp, programa_win.cpp). nombre_de_servidor and
// cerrar_con_senales, declared in programa.h, are theirs too.

namespace quarvel {

class PuertoSerie;

// Whether a display can be opened on Qt's platform `plataforma` (one entry
// of -platform or QT_QPA_PLATFORM); empty for the one Qt would choose.
bool hay_pantalla_en(const QString& plataforma);

// Whether `nombre`, the machine a lock file names, is this one (as QLockFile
// names it).
bool es_esta_maquina(const QString& nombre);

// Whether process `pid` still runs, and whether as this user (false when it
// is gone).
bool proceso_vivo(qint64 pid);
bool proceso_propio(qint64 pid);

// Who runs first in a folder that can hold no lock file, decided under the
// name of its single-instance server: a named mutex on Windows (two
// processes may listen on one pipe name there), a lock beside the socket on
// Linux. Held while what it returns lives; null when another start holds it.
std::shared_ptr<void> tomar_exclusion(const QString& servidor);

#ifdef Q_OS_WIN
// Windows' services (--servicio NAME): the folder of service NAME,
// %ProgramData%\Quarvel\NAME.
QString carpeta_de_servicio(const QString& nombre);
// Connects to the service control manager as service `servicio`, on a
// thread of its own, Qt's loop staying on the main one; false when this
// process was not started by the manager.
bool conectar_servicio(const QString& servicio);
// Tells the manager the service stopped, with the program's exit status;
// nothing when it runs as no service.
void servicio_terminado(int estado);
// --instalar-servicio and --quitar-servicio with the manager's API; the
// exit status, what happened said on stdout or stderr.
int instalar_servicio(const QString& servicio, const QString& mostrado, const QString& orden);
int quitar_servicio(const QString& servicio);
#endif

// Before anything is written: a Windows window program started from a
// console writes there (unless redirected); elsewhere nothing to do.
void preparar_consola();

// What the display needs before Qt opens it.
void preparar_pantalla();

// A start with no window (a service): Qt draws off screen, quietly.
void preparar_sin_ventana();

// How a checker with no window ends, for its help; and how the user stops
// one running as a service, for a desktop start that finds it.
QString como_terminar_sin_ventana();
QString como_parar_sin_ventana();

// The user's own folder for the programs' files: %LOCALAPPDATA%\Quarvel on
// Windows, $XDG_CONFIG_HOME/quarvel (~/.config/quarvel) on Linux, as the
// launcher uses.
QString carpeta_de_usuario();

// The serial port the programs open.
std::unique_ptr<PuertoSerie> crear_puerto_real();

} // namespace quarvel
