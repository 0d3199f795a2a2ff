#pragma once

#include <QString>

// What each system's side of archivos.h gives the shared part.

namespace quarvel {

// Throws Fallo when something other than a regular file (a device, a FIFO, a
// folder) stands at `nombre` or behind its link: it is never replaced, nor
// opened for writing, as that could block for good.
void comprobar_reemplazable(const QString& nombre);

} // namespace quarvel
