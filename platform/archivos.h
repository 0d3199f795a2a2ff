#pragma once

#include <QByteArray>
#include <QString>

namespace quarvel {

// Files of the working folder. Every failure throws Fallo with a description
// naming the file and the reason the system gives.

// The bytes of a small regular file (a link to one is fine): anything else,
// or more than `maximo` bytes, is refused without blocking and without
// reading it all.
QByteArray leer_archivo_pequeno(const QString& nombre, qint64 maximo);

// Replaces a file whole: the new content goes to a temporary file beside it,
// renamed over the old one once completely written, so a failed write leaves
// the old file as it was. Where the folder admits no temporary file but the
// file itself can be written, the file is rewritten in place. Anything but a
// regular file (or a link to one) is refused, untouched.
void reemplazar_archivo(const QString& nombre, const QByteArray& contenido);

// The last `maximo` bytes of a regular file (all of a smaller one), from the
// first whole line on; `recortado` says whether the start was left out.
// Throws Fallo for anything but a regular file.
QByteArray leer_final_de_archivo(const QString& nombre, qint64 maximo, bool& recortado);

// Replaces a file whole in a folder others may write to: the new content
// goes to a temporary file created afresh (never one already there, never
// through a link), renamed over the name. A link planted at the name is
// replaced itself; what it points at is never touched.
void reemplazar_sin_enlaces(const QString& nombre, const QByteArray& contenido);

// Truncates and writes a file where it stands, through a link if it is one:
// for scratch copies nobody loses anything by.
void escribir_en_su_sitio(const QString& nombre, const QByteArray& contenido);

// Appends to a file (created if missing) whole or not at all: a write cut
// short (a full disk) is taken back.
void anexar_entero(const QString& nombre, const QByteArray& contenido);

} // namespace quarvel
