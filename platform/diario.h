#pragma once

#include <QString>
#include <functional>

namespace quarvel {

// The program's record of events: one line each on stderr, led by its
// syslog priority ("<3>" error, "<4>" warning, "<6>" information), which the
// journal reads when a service manager runs the program.
enum class Prioridad { Error = 3, Aviso = 4, Info = 6 };

void diario(Prioridad prioridad, const QString& texto);

// Where the lines go instead (tests); nothing restores stderr.
void desviar_diario(std::function<void(const QByteArray& linea)> destino);

} // namespace quarvel
