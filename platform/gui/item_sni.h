#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>

class QDBusServiceWatcher;
class QMenu;

namespace quarvel {

// The types of the StatusNotifierItem and dbusmenu protocols, as they travel.
struct PixmapSni {
    int ancho = 0;
    int alto = 0;
    // ARGB32, each pixel in network byte order.
    QByteArray datos;
};
using PixmapsSni = QList<PixmapSni>;

struct ToolTipSni {
    QString icono;
    PixmapsSni pixmaps;
    QString titulo;
    QString texto;
};

struct ElementoMenuSni {
    int id = 0;
    QVariantMap propiedades;
    QList<ElementoMenuSni> hijos;
};

struct PropiedadesMenuSni {
    int id = 0;
    QVariantMap propiedades;
};
using ListaPropiedadesMenuSni = QList<PropiedadesMenuSni>;

struct EventoMenuSni {
    int id = 0;
    QString evento;
    QDBusVariant datos;
    uint momento = 0;
};
using ListaEventosMenuSni = QList<EventoMenuSni>;

QDBusArgument& operator<<(QDBusArgument& a, const PixmapSni& p);
const QDBusArgument& operator>>(const QDBusArgument& a, PixmapSni& p);
QDBusArgument& operator<<(QDBusArgument& a, const ToolTipSni& t);
const QDBusArgument& operator>>(const QDBusArgument& a, ToolTipSni& t);
QDBusArgument& operator<<(QDBusArgument& a, const ElementoMenuSni& e);
const QDBusArgument& operator>>(const QDBusArgument& a, ElementoMenuSni& e);
QDBusArgument& operator<<(QDBusArgument& a, const PropiedadesMenuSni& p);
const QDBusArgument& operator>>(const QDBusArgument& a, PropiedadesMenuSni& p);
QDBusArgument& operator<<(QDBusArgument& a, const EventoMenuSni& e);
const QDBusArgument& operator>>(const QDBusArgument& a, EventoMenuSni& e);

// A tray icon on the StatusNotifierItem protocol (KDE Plasma, XFCE, LXQt,
// GNOME's AppIndicator extension, Wayland desktops): the item, its menu over
// dbusmenu, and balloons through the notification service. It registers with
// the watcher, and again whenever a new watcher comes (a panel restarted).
class ItemSni : public QObject {
    Q_OBJECT
public:
    struct Datos {
        QString id;
        QString titulo;
        QString nombre_icono;
        QIcon icono;
        QPointer<QMenu> menu;
        // A click or the panel's request for a menu, at a point of the screen.
        std::function<void(QPoint)> activado;
    };

    explicit ItemSni(Datos datos, QObject* parent = nullptr);
    ~ItemSni() override;

    // Whether it stands on the session bus and the watcher took it. The
    // watcher answers later: `registro` tells, every time it changes.
    bool registrado() const { return registrado_; }
    // Whether its registration is still unanswered.
    bool pendiente() const { return pendiente_; }
    QString servicio() const { return servicio_; }

    // The tooltip's body under the title (a failure, whole); empty for none.
    void setTexto(const QString& texto);
    // Changed while it stands; a panel hears of each.
    void setTitulo(const QString& titulo);
    void setIcono(const QIcon& icono);
    void setMenu(QMenu* menu);
    // A balloon, through the desktop's notification service.
    void avisar(const QString& titulo, const QString& texto);
    // "NeedsAttention", with its attention icon, or "Active".
    void setAtencion(bool atencion);
    bool atencion() const { return atencion_; }
    const PixmapsSni& pixmapsAtencion() const { return pixmaps_atencion_; }

    // For the protocol adaptors.
    const Datos& datos() const { return datos_; }
    const QString& texto() const { return texto_; }
    const PixmapsSni& pixmaps() const { return pixmaps_; }
    void activar(QPoint punto);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewToolTip();
    void NewStatus(const QString& estado);
    void menuCambiado();
    // The watcher took the item (true), or refused it, or went away.
    void registro(bool registrado);

private:
    void registrar_en_vigilante();
    void fijar_registro(bool registrado);

    Datos datos_;
    QString texto_;
    PixmapsSni pixmaps_;
    PixmapsSni pixmaps_atencion_;
    QString servicio_;
    bool registrado_ = false;
    bool pendiente_ = false;
    bool atencion_ = false;
};

// Whether a StatusNotifierWatcher with a host (a panel that shows items) is
// on the session bus, as last heard: it never waits on the bus, whose
// answer comes later (at the first call, after a moment).
bool hay_anfitrion_sni();

// Calls `accion` whenever a StatusNotifierWatcher with a host comes onto the
// session bus (a panel starting or restarting), for as long as `contexto`
// lives.
void al_llegar_vigilante(QObject* contexto, std::function<void()> accion);
// Calls `accion` when the watcher goes away.
void al_irse_vigilante(QObject* contexto, std::function<void()> accion);

// The pixmaps an item sends: every size of the icon from 16 to 256 pixels.
PixmapsSni pixmaps_sni(const QIcon& icono);

} // namespace quarvel

Q_DECLARE_METATYPE(quarvel::PixmapSni)
Q_DECLARE_METATYPE(quarvel::ToolTipSni)
Q_DECLARE_METATYPE(quarvel::ElementoMenuSni)
Q_DECLARE_METATYPE(quarvel::PropiedadesMenuSni)
Q_DECLARE_METATYPE(quarvel::EventoMenuSni)
