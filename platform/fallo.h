#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <utility>

namespace quarvel {

// A failure with a description meant for the user; start-up and "Guardar"
// catch it and show the text in a message box.
class Fallo : public std::exception {
public:
    explicit Fallo(QString descripcion)
        : descripcion_(std::move(descripcion))
        , utf8_(descripcion_.toUtf8()) {}
    const QString& descripcion() const noexcept { return descripcion_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString descripcion_;
    QByteArray utf8_;
};

// A value quoted in a message, cut to a length a message box can show.
inline QString recortado(const QString& valor, qsizetype maximo = 60) {
    return valor.size() <= maximo ? valor : valor.left(maximo - 3) + QStringLiteral("...");
}

} // namespace quarvel
