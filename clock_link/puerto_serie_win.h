#pragma once

#include "clock_link/puerto_serie.h"

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace quarvel {

// The real port on Windows, straight on the communications API: \\.\COM<n>
// opened for overlapped I/O (a write never waits behind a read), its line
// set through a DCB, and a thread of its own that takes what the driver has
// received, without WaitCommEvent: every millisecond from a write for as
// long as someone waits for bytes (a read-back's reply) and a moment after,
// a few times a second otherwise, enough to see the device go. What
// arrives is kept here for Input() and esperarDatos(); the window's thread
// hears of it by a queued signal, which becomes OnComm.
class PuertoSerieWin final : public PuertoSerie {
    Q_OBJECT
public:
    explicit PuertoSerieWin(QObject* parent = nullptr);
    ~PuertoSerieWin() override;

    void esperarDatos(int ms) override;
    // Bytes received and not read yet; they never pile up past a few KiB.
    qint64 InBufferCount() const;
    // Which opening this is: each open starts a new one.
    quint64 sesion() const { return sesion_; }

signals:
    // From the reading thread of opening `sesion`, queued to the port's:
    // bytes arrived, or the device went away (with the system's reason). One
    // queued just before a close and reopen belongs to the closed opening,
    // and must not close the new one.
    void llegaron(quint64 sesion);
    void fallo_lectura(quint64 sesion, const QString& razon);

protected:
    bool abierto() const override { return abierto_; }
    bool abrir() override;
    void cerrar() override;
    bool escribir(const QByteArray& datos) override;
    QByteArray leer() override;

private:
    struct Escritura;
    void leer_en_hilo(quint64 sesion);
    // Forgets the writes the driver has finished; waits up to `ms` for the
    // rest (0: no wait). True when none is left.
    bool recoger_escrituras(int ms);
    void alPerder(quint64 sesion, const QString& motivo);
    // The reading thread looks every millisecond until `hasta` (wakes it
    // when it looked rarely).
    void mirar_a_menudo_hasta(std::chrono::steady_clock::time_point hasta);

    void* h_ = nullptr;         // the port's HANDLE
    void* parar_ = nullptr;     // event that stops the reading thread
    void* despertar_ = nullptr; // event that makes it look now
    bool abierto_ = false;
    quint64 sesion_ = 0;
    std::thread lector_;
    std::list<std::unique_ptr<Escritura>> escrituras_;

    mutable std::mutex m_;
    std::condition_variable hay_datos_;
    QByteArray entrada_;
    bool aviso_pendiente_ = false;
    std::chrono::steady_clock::time_point a_menudo_hasta_{};
};

} // namespace quarvel
