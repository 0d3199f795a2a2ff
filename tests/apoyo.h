#pragma once

#include "clock_link/puerto_serie.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <vector>

// A serial port in memory: records opens, closes and every write with its
// time, and can be handed bytes to "receive".
class PuertoFalso : public quarvel::PuertoSerie {
public:
    enum class Tipo { Abrir, Cerrar, Escribir };
    struct Evento {
        Tipo tipo;
        QByteArray bytes;
        qint64 t_ms;
    };

    std::vector<Evento> eventos;
    // When set, opening fails with this description.
    QString fallo_apertura;
    // Called after each write with its bytes (to answer a request).
    std::function<void(const QByteArray&)> al_escribir;
    QByteArray entrada;
    int esperas = 0;

    void esperarDatos(int) override { ++esperas; }
    void recibir(const QByteArray& b) { entrada += b; }

    // All bytes written, in order.
    QByteArray escritos() const;
    // Writes, one text per write.
    std::vector<QByteArray> escrituras() const;
    int cuenta(Tipo t) const;
    void limpiar() { eventos.clear(); }

protected:
    bool abierto() const override { return abierto_; }
    bool abrir() override;
    void cerrar() override;
    bool escribir(const QByteArray& datos) override;
    QByteArray leer() override;

private:
    bool abierto_ = false;
    QElapsedTimer reloj_ = iniciado();
    static QElapsedTimer iniciado() {
        QElapsedTimer t;
        t.start();
        return t;
    }
};

class HoraFija : public quarvel::FuenteHora {
public:
    QDateTime t = QDateTime(QDate(2026, 12, 5), QTime(19, 33, 43));
    QDateTime ahora() const override { return t; }
    void fijar(int d, int m, int y, int hh, int mm, int ss) {
        t = QDateTime(QDate(y, m, d), QTime(hh, mm, ss));
    }
};

class CajaFalsa : public quarvel::CajaMensajes {
public:
    struct Mensaje {
        QString texto, titulo;
    };
    std::vector<Mensaje> mensajes;
    void mostrar(QWidget*, const QString& texto, const QString& titulo) override {
        mensajes.push_back({texto, titulo});
    }
};

// Runs a test inside a fresh temporary working folder.
class CarpetaTemporal {
public:
    CarpetaTemporal();
    ~CarpetaTemporal();
    QString ruta() const { return dir_.path(); }
    static void escribir(const QString& nombre, const QByteArray& contenido);
    static QByteArray leer(const QString& nombre);

private:
    QString anterior_;
    QTemporaryDir dir_;
};

// "qv.ini" as a save writes it, with the given port, settings and delays.
QByteArray qv_ini(const QString& port, const QString& cfg, const QStringList& retardos = {});

// "salida.txt" of a read-back that got its reply: the whole 15 bytes, or
// fewer when a minute or second of 53 (the code of "S") ended the wait early;
// either way the last byte before CR LF is that "S".
inline bool respuesta_entera(const QByteArray& salida) {
    return salida.size() >= 14 && salida.size() <= 17 && salida.endsWith("S\r\n");
}

// The description of the Fallo that `f` throws, or "<no failure>".
QString descripcion_de(const std::function<void()>& f);

// Runs the event loop for `ms` milliseconds.
void esperar_eventos(int ms);
