#pragma once

#include <QString>
#include <functional>

namespace quarvel {

// The program's record of events: one line each on stderr, led by its
// syslog priority ("<3>" error, "<4>" warning, "<6>" information), which the
// journal reads when a service manager runs the program.
enum class Prioridad { Error = 3, Aviso = 4, Info = 6 };

void diario(Prioridad prioridad, const QString& texto);

// Windows has no journal that reads stderr: there each line also goes, with
// its date and time, to the end of `nombre`.log in the working folder, where
// the clock's other files are; past `tamano_maximo` bytes that file becomes
// `nombre`.log.1 (replacing the previous one) and a new one starts. An empty
// name stops it. On Linux it does nothing: stderr is the journal's or the
// terminal's.
void diario_tambien_en_archivo(const QString& nombre, qint64 tamano_maximo = 1024 * 1024);

// The platform's side of it: one line to that file, if any.
void anotar_en_archivo_del_diario(Prioridad prioridad, const QString& texto);

// Where the lines go instead (tests); nothing restores stderr.
void desviar_diario(std::function<void(const QByteArray& linea)> destino);

} // namespace quarvel
