#pragma once

#include "clock_link/puerto_serie.h"
#include "platform/fuente_hora.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <utility>
#include <vector>

// The PC's clock as the test sets it; calls due run only when the test moves
// it on, in the order of their moments.
class RelojVirtual : public quarvel::FuenteHora {
public:
    RelojVirtual() { fijar(5, 12, 2026, 19, 33, 43); }

    qint64 ahora_us() const override { return t_us; }
    Id programar(qint64 cuando_us, Precision precision, std::function<void()> accion) override;
    void cancelar(Id id) override { citas_.erase(id); }

    // Local date and time.
    void fijar(int d, int m, int y, int hh, int mm, int ss, int ms = 0);
    void fijar(const QDateTime& t) { t_us = t.toMSecsSinceEpoch() * 1000; }
    // Moves the clock on, making the calls that fall due on the way.
    void avanzar(qint64 ms) { avanzar_us(ms * 1000); }
    void avanzar_us(qint64 us);
    // The PC's clock set `us` on (back when negative): calls waiting keep
    // their wait, as the real ones do, so each comes that far off its moment.
    void saltar_us(qint64 us);
    // The program stalled for `ms` (stopped, or a machine asleep): the clock
    // goes on and the calls due meanwhile run late, at the next move.
    void detener(qint64 ms) { t_us += ms * 1000; }
    // How many calls wait.
    std::size_t pendientes() const { return citas_.size(); }

    qint64 t_us = 0;

private:
    struct Cita {
        qint64 cuando_us;
        std::function<void()> accion;
    };
    std::map<Id, Cita> citas_;
    Id siguiente_ = 0;
};

// A serial port in memory: records opens, closes and every write with the
// time of the clock it is given, and can be handed bytes to "receive".
class PuertoFalso : public quarvel::PuertoSerie {
public:
    enum class Tipo { Abrir, Cerrar, Escribir };
    struct Evento {
        Tipo tipo;
        QByteArray bytes;
        qint64 t_us;
    };

    explicit PuertoFalso(const quarvel::FuenteHora* reloj = nullptr)
        : reloj_(reloj) {}

    std::vector<Evento> eventos;
    // When set, opening fails with this description.
    QString fallo_apertura;
    // Called after each write with its bytes (to answer a request).
    std::function<void(const QByteArray&)> al_escribir;
    QByteArray entrada;
    int esperas = 0;

    // Called at each wait for input, after counting it.
    std::function<void()> al_esperar;
    void esperarDatos(int) override {
        ++esperas;
        if (al_esperar)
            al_esperar();
    }
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
    qint64 ahora() const { return reloj_ ? reloj_->ahora_us() : 0; }
    const quarvel::FuenteHora* reloj_;
    bool abierto_ = false;
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

// "salida.txt" of a read-back that got its whole 15-byte reply.
inline bool respuesta_entera(const QByteArray& salida) {
    return salida.size() == 17 && salida.endsWith("S\r\n");
}

// The reply the clock gives: values at positions 4 to 14, "S" at 15.
QByteArray respuesta(int d, int m, int y, int hh, int mm, int ss);

// The description of the Fallo that `f` throws, or "<no failure>".
QString descripcion_de(const std::function<void()>& f);

// What the tests ask of the system: apoyo_linux.cpp, apoyo_win.cpp.
// What a helper returns where the system cannot do what it is asked.
constexpr int kSinSistema = 77;
// Runs `f` in a forked child (limits it sets stay there); its exit status,
// 100 when it did not exit. Linux only.
int en_hijo(const std::function<int()>& f);
// Runs `f` where files can grow to `bytes` at most, as on a full disk (a
// child with its file size limit set); its exit status, or kSinSistema.
int con_disco_lleno(qint64 bytes, const std::function<int()>& f);
// Makes a FIFO named `nombre`; false where folders hold none (Windows).
bool crear_tuberia(const char* nombre);
// Windows: no symbolic links from QFile::link (it makes .lnk shortcuts), no
// FIFOs, and a folder in use cannot be removed.
bool en_windows();

// Runs the event loop for `ms` milliseconds of real time.
void esperar_eventos(int ms);
