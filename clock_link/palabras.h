#pragma once

#include "clock_link/seguimiento.h"

#include <QString>

namespace quarvel {

// The offset and drift in Spanish, for the windows, the tooltips and the
// journal.

// Whether a drift is known well enough to be said as a figure: its bound
// within a fifth of its value, or within 1 s a day.
bool deriva_conocida(double deriva, double cota_deriva);
// "adelanta 0,8 s al día", "atrasa 12 s al día", or "deriva aún incierta
// (±29 s al día)" until it is known.
QString deriva_en_palabras(double deriva, double cota_deriva);
// Surely a second or more off: the designed comparison, by the minute,
// finds such a clock right, but its seconds are not the PC's.
bool desviado(const EstimadorDesvio::Estimacion& e);
// "desvío +3,2 ms (±1,5 ms)", or "desvío desconocido" when not valid.
QString texto_desvio(const EstimadorDesvio::Estimacion& e);
// A sentence: "El reloj adelanta 0,8 s al día", "La deriva del reloj es aún
// incierta (±29 s al día)".
QString frase_deriva(double deriva, double cota_deriva);
// "desvío +3,2 ms (±1,5 ms)" and the drift, or "desvío desconocido", for a
// tooltip or a status bar.
QString resumen_de_registro(const Registro& r);
// Two short lines for the window: "07:35:31 en hora: desvío -1,4 ms (±18,4
// ms)" and the drift, with a PC that is not synchronised said after it.
QString resumen_breve(const Registro& r, const QString& hora);

} // namespace quarvel
