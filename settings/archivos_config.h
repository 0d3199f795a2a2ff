#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace quarvel {

inline const QString kArchivoIntervalo = QStringLiteral("qv_int.ini");
inline const QString kArchivoConfiguracion = QStringLiteral("qv.ini");

// The contents of "qv.ini": nine texts, each absent until its section is read.
struct configuracion_ini {
    std::optional<QString> com_port;
    std::optional<QString> com_cfg;
    std::optional<QString> t1, t2, t3, t4, t5, t6, t7;
};

struct config_com {
    QString baud, parity, data, stop;
};

// All file operations work on the fixed names in the working directory and
// throw Fallo with a description naming the file. The files are 8-bit text,
// Latin-1, one byte per character, and small regular files: anything else is
// refused. Saves are atomic where the folder allows.
QString leer_intervalo();
void guardar_intervalo(const QString& texto);
configuracion_ini leer_configuracion();
// The same readings on a file's bytes, for callers that have them already.
QString intervalo_de_bytes(const QByteArray& datos);
configuracion_ini configuracion_de_bytes(const QByteArray& datos);

void guardar_configuracion(const QString& port, const QString& baud, const QString& parity,
                           const QString& data, const QString& stop);

// Parity and data are the one character before the following comma, stop the
// last character. Throws Fallo when the text has fewer than three commas.
config_com separar_config_com(const QString& texto);
// The same as far as the text goes: how many of the four fields it has (baud
// once there is a first comma, parity a second, data a third, then stop).
// Without a comma the baud is the whole text.
int separar_config_com_parcial(const QString& texto, config_com& partes);
QString unir_config_com(const QString& baud, const QString& parity, const QString& data,
                        const QString& stop);

// "qv_fino.ini": one line, the fine correction's threshold in whole
// milliseconds. Absent, empty or 0 means off (nothing); any other text is
// refused with Fallo, which callers take as off.
inline const QString kArchivoFino = QStringLiteral("qv_fino.ini");
std::optional<int> umbral_fino_de_bytes(const QByteArray& datos);
std::optional<int> leer_umbral_fino();
// Writes the threshold, 0 when off.
void guardar_umbral_fino(std::optional<int> umbral_ms);

// The delay line every save writes: 100 in the display form " 100 ".
inline const QString kRetardoGuardado = QStringLiteral(" 100 ");

} // namespace quarvel
