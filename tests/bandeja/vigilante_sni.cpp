// A StatusNotifierWatcher of the tests' own, so the tray items can be tried
// on a private session bus without a desktop. Declares its properties (panels
// and Qt ignore a watcher whose introspection lacks them).
//   vigilante_sni [--sin-anfitrion] [--rechaza] [--tarde MS] [--mudo]
// --mudo takes the name and never answers a call (a hung panel).
// Prints "vigilante: listo" once it owns its name, then a line per item.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QTimer>
#include <cstdio>

namespace {

void decir(const QString& linea) {
    std::printf("vigilante: %s\n", qPrintable(linea));
    std::fflush(stdout);
}

class Vigilante : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ anfitrion)
    Q_PROPERTY(int ProtocolVersion READ version)
public:
    Vigilante(bool anfitrion, bool rechaza)
        : anfitrion_(anfitrion)
        , rechaza_(rechaza)
        , duenos_(this) {
        duenos_.setConnection(QDBusConnection::sessionBus());
        duenos_.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(&duenos_, &QDBusServiceWatcher::serviceUnregistered, this,
                [this](const QString& servicio) {
                    for (const QString& item : QStringList(items_)) {
                        if (item.startsWith(servicio + u'/')) {
                            items_.removeAll(item);
                            decir(QStringLiteral("retirado ") + item);
                            emit StatusNotifierItemUnregistered(item);
                        }
                    }
                });
    }
    QStringList items() const { return items_; }
    bool anfitrion() const { return anfitrion_; }
    int version() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& servicio, const QDBusMessage& mensaje) {
        if (rechaza_) {
            mensaje.setDelayedReply(true);
            QDBusConnection::sessionBus().send(
                mensaje.createErrorReply(QDBusError::AccessDenied, QStringLiteral("rechazado")));
            return;
        }
        // A name, or (Ayatana) a path on the caller's connection.
        const bool ruta = servicio.startsWith(u'/');
        const QString dueno = ruta ? mensaje.service() : servicio;
        const QString item = dueno + (ruta ? servicio : QStringLiteral("/StatusNotifierItem"));
        if (items_.contains(item))
            return;
        items_ << item;
        duenos_.addWatchedService(dueno);
        decir(QStringLiteral("registrado ") + item);
        emit StatusNotifierItemRegistered(item);
    }
    void RegisterStatusNotifierHost(const QString& /*servicio*/) { anfitrion_ = true; }

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();

private:
    bool anfitrion_;
    bool rechaza_;
    QStringList items_;
    QDBusServiceWatcher duenos_;
};

// Takes every call and answers none.
class Mudo : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& mensaje, const QDBusConnection&) override {
        if (mensaje.member() == QStringLiteral("RegisterStatusNotifierItem"))
            decir(QStringLiteral("callado ") + mensaje.arguments().value(0).toString());
        return true;
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int i = static_cast<int>(args.indexOf(QStringLiteral("--tarde")));
    const int tarde_ms = i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : 0;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "vigilante: no hay bus de sesion\n");
        return 2;
    }
    Vigilante vigilante(!args.contains(QStringLiteral("--sin-anfitrion")),
                        args.contains(QStringLiteral("--rechaza")));
    Mudo mudo;
    const bool registrado =
        args.contains(QStringLiteral("--mudo"))
            ? bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &mudo)
            : bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &vigilante,
                                 QDBusConnection::ExportAllSlots |
                                     QDBusConnection::ExportAllSignals |
                                     QDBusConnection::ExportAllProperties);
    if (!registrado)
        return 3;
    // The name last: whoever sees it finds the object too.
    QTimer::singleShot(tarde_ms, &app, [&bus, &app] {
        if (!bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"))) {
            std::fprintf(stderr, "vigilante: el nombre esta tomado\n");
            app.exit(4);
            return;
        }
        decir(QStringLiteral("listo"));
    });
    return QCoreApplication::exec();
}

#include "vigilante_sni.moc"
