#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <utility>

namespace quarvel {

// What the checker learnt of its clock, kept in the working folder across
// restarts: one fact per line, written whole, in a file of its own (the
// history and the settings files are untouched).
inline const QString kArchivoAprendido = QStringLiteral("aprendido.txt");

struct Aprendido {
    // The port and its line settings: another port or line starts afresh.
    QString clave;
    // When it was learnt (s since 1970, UTC).
    qint64 cuando_s = 0;
    // The drift's range (1e-6 = 1 ppm; positive: the clock gains).
    double deriva_lo = 0;
    double deriva_hi = 0;
    // L's range (s), when a set's period measured it.
    std::optional<std::pair<double, double>> latencia_s;
};

QByteArray texto_aprendido(const Aprendido& a);
// Nothing when the text is not a whole, sane record.
std::optional<Aprendido> leer_aprendido(const QByteArray& texto);

// The drift's range believed `ahora_s` on: a crystal's drift wanders with
// temperature and age, so the range widens with the time since it was
// learnt (2 ppm a day, 0.1 ppm at once), as chrony ages what it keeps.
std::pair<double, double> deriva_envejecida(const Aprendido& a, qint64 ahora_s);

} // namespace quarvel
