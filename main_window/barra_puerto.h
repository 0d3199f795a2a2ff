#pragma once

#include <QString>
#include <array>

class QLabel;

namespace quarvel {

// Fills the value panels 2, 4, 6, 8 and 10 from the port number and the
// settings string the port reports back. Throws Fallo when the string cannot
// be split; the panels before that stay filled.
void llenar_barra_puerto(const std::array<QLabel*, 10>& paneles, int com_port,
                         const QString& settings);

} // namespace quarvel
