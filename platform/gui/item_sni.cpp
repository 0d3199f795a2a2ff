#include "platform/gui/item_sni.h"

#include "platform/gui/controles.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSet>
#include <QtEndian>
#include <atomic>

namespace quarvel {

namespace {

const QString kVigilante = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kRutaVigilante = QStringLiteral("/StatusNotifierWatcher");
const QString kRutaItem = QStringLiteral("/StatusNotifierItem");
const QString kRutaMenu = QStringLiteral("/MenuBar");
// How long an answer of the watcher may take, waited on by nothing.
constexpr int kEsperaVigilanteMs = 5000;

void registrar_tipos() {
    static const bool hecho = [] {
        qDBusRegisterMetaType<PixmapSni>();
        qDBusRegisterMetaType<PixmapsSni>();
        qDBusRegisterMetaType<ToolTipSni>();
        qDBusRegisterMetaType<ElementoMenuSni>();
        qDBusRegisterMetaType<PropiedadesMenuSni>();
        qDBusRegisterMetaType<ListaPropiedadesMenuSni>();
        qDBusRegisterMetaType<EventoMenuSni>();
        qDBusRegisterMetaType<ListaEventosMenuSni>();
        return true;
    }();
    Q_UNUSED(hecho)
}

// The properties of one menu entry, those asked for (all when none is).
QVariantMap propiedades_de(const QAction* accion, const QStringList& pedidas) {
    QVariantMap p;
    if (accion->isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        // dbusmenu marks a mnemonic with "_", Qt with "&".
        QString etiqueta = accion->text();
        etiqueta.replace(u'_', QStringLiteral("__"))
            .replace(QStringLiteral("&&"), QStringLiteral("\x01"));
        etiqueta.replace(u'&', u'_').replace(u'\x01', u'&');
        p.insert(QStringLiteral("label"), etiqueta);
        p.insert(QStringLiteral("enabled"), accion->isEnabled());
    }
    p.insert(QStringLiteral("visible"), accion->isVisible());
    if (pedidas.isEmpty())
        return p;
    QVariantMap filtradas;
    for (const QString& nombre : pedidas)
        if (p.contains(nombre))
            filtradas.insert(nombre, p.value(nombre));
    return filtradas;
}

} // namespace

// --- Marshalling ------------------------------------------------------------

QDBusArgument& operator<<(QDBusArgument& a, const PixmapSni& p) {
    a.beginStructure();
    a << p.ancho << p.alto << p.datos;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, PixmapSni& p) {
    a.beginStructure();
    a >> p.ancho >> p.alto >> p.datos;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const ToolTipSni& t) {
    a.beginStructure();
    a << t.icono << t.pixmaps << t.titulo << t.texto;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, ToolTipSni& t) {
    a.beginStructure();
    a >> t.icono >> t.pixmaps >> t.titulo >> t.texto;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const ElementoMenuSni& e) {
    a.beginStructure();
    a << e.id << e.propiedades;
    a.beginArray(qMetaTypeId<QDBusVariant>());
    for (const ElementoMenuSni& hijo : e.hijos)
        a << QDBusVariant(QVariant::fromValue(hijo));
    a.endArray();
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, ElementoMenuSni& e) {
    a.beginStructure();
    a >> e.id >> e.propiedades;
    a.beginArray();
    e.hijos.clear();
    while (!a.atEnd()) {
        QDBusVariant v;
        a >> v;
        e.hijos << qdbus_cast<ElementoMenuSni>(v.variant());
    }
    a.endArray();
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const PropiedadesMenuSni& p) {
    a.beginStructure();
    a << p.id << p.propiedades;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, PropiedadesMenuSni& p) {
    a.beginStructure();
    a >> p.id >> p.propiedades;
    a.endStructure();
    return a;
}
QDBusArgument& operator<<(QDBusArgument& a, const EventoMenuSni& e) {
    a.beginStructure();
    a << e.id << e.evento << e.datos << e.momento;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, EventoMenuSni& e) {
    a.beginStructure();
    a >> e.id >> e.evento >> e.datos >> e.momento;
    a.endStructure();
    return a;
}

// --- org.kde.StatusNotifierItem ------------------------------------------------

class AdaptadorItem : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ categoria)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ titulo)
    Q_PROPERTY(QString Status READ estado)
    Q_PROPERTY(int WindowId READ ventana)
    Q_PROPERTY(QString IconThemePath READ vacio)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(bool ItemIsMenu READ es_menu)
    Q_PROPERTY(QString IconName READ nombre_icono)
    Q_PROPERTY(quarvel::PixmapsSni IconPixmap READ pixmaps)
    Q_PROPERTY(QString OverlayIconName READ vacio)
    Q_PROPERTY(quarvel::PixmapsSni OverlayIconPixmap READ ninguno)
    Q_PROPERTY(QString AttentionIconName READ vacio)
    Q_PROPERTY(quarvel::PixmapsSni AttentionIconPixmap READ pixmaps_atencion)
    Q_PROPERTY(QString AttentionMovieName READ vacio)
    Q_PROPERTY(quarvel::ToolTipSni ToolTip READ tooltip)
public:
    explicit AdaptadorItem(ItemSni* item)
        : QDBusAbstractAdaptor(item)
        , item_(item) {
        setAutoRelaySignals(true);
    }

    QString categoria() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return item_->datos().id; }
    QString titulo() const { return item_->datos().titulo; }
    QString estado() const {
        return item_->atencion() ? QStringLiteral("NeedsAttention") : QStringLiteral("Active");
    }
    int ventana() const { return 0; }
    QString vacio() const { return {}; }
    QDBusObjectPath menu() const { return QDBusObjectPath(kRutaMenu); }
    bool es_menu() const { return false; }
    QString nombre_icono() const { return item_->datos().nombre_icono; }
    PixmapsSni pixmaps() const { return item_->pixmaps(); }
    PixmapsSni ninguno() const { return {}; }
    PixmapsSni pixmaps_atencion() const { return item_->pixmapsAtencion(); }
    ToolTipSni tooltip() const {
        return ToolTipSni{item_->datos().nombre_icono, {}, item_->datos().titulo, item_->texto()};
    }

public slots:
    void ContextMenu(int x, int y) { item_->activar(QPoint(x, y)); }
    void Activate(int x, int y) { item_->activar(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) { item_->activar(QPoint(x, y)); }
    void Scroll(int /*delta*/, const QString& /*orientacion*/) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString&);

private:
    ItemSni* item_;
};

// --- com.canonical.dbusmenu ---------------------------------------------------

class AdaptadorMenu : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ direccion)
    Q_PROPERTY(QString Status READ estado)
    Q_PROPERTY(QStringList IconThemePath READ rutas)
public:
    AdaptadorMenu(QObject* objeto, ItemSni* item)
        : QDBusAbstractAdaptor(objeto)
        , item_(item) {
        connect(item, &ItemSni::menuCambiado, this, [this] { emit LayoutUpdated(++revision_, 0); });
    }

    uint version() const { return 3; }
    QString direccion() const { return QStringLiteral("ltr"); }
    QString estado() const { return QStringLiteral("normal"); }
    QStringList rutas() const { return {}; }

public slots:
    uint GetLayout(int padre, int profundidad, const QStringList& nombres,
                   quarvel::ElementoMenuSni& arbol) {
        arbol = ElementoMenuSni{};
        arbol.id = padre;
        const QList<QAction*> acciones = this->acciones();
        if (padre > 0 && padre <= acciones.size()) {
            arbol.propiedades = propiedades_de(acciones[padre - 1], nombres);
            return 1;
        }
        arbol.propiedades.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        if (profundidad != 0)
            for (int i = 0; i < acciones.size(); ++i)
                arbol.hijos << ElementoMenuSni{i + 1, propiedades_de(acciones[i], nombres), {}};
        return 1;
    }

    quarvel::ListaPropiedadesMenuSni GetGroupProperties(const QList<int>& ids,
                                                        const QStringList& nombres) {
        ListaPropiedadesMenuSni r;
        const QList<QAction*> acciones = this->acciones();
        for (int id : ids)
            if (id > 0 && id <= acciones.size())
                r << PropiedadesMenuSni{id, propiedades_de(acciones[id - 1], nombres)};
        return r;
    }

    QDBusVariant GetProperty(int id, const QString& nombre) {
        const QList<QAction*> acciones = this->acciones();
        if (id > 0 && id <= acciones.size())
            return QDBusVariant(propiedades_de(acciones[id - 1], {nombre}).value(nombre));
        return QDBusVariant(QVariant(QString()));
    }

    void Event(int id, const QString& evento, const QDBusVariant& /*datos*/, uint /*momento*/) {
        const QList<QAction*> acciones = this->acciones();
        if (evento == QStringLiteral("clicked") && id > 0 && id <= acciones.size() &&
            !pendientes_.contains(id)) {
            // After the reply: the action may show a window or run a while.
            pendientes_.insert(id);
            QPointer<QAction> accion = acciones[id - 1];
            QMetaObject::invokeMethod(
                this,
                [this, accion, id] {
                    pendientes_.remove(id);
                    if (accion)
                        accion->trigger();
                },
                Qt::QueuedConnection);
        }
    }

    // QtDBus finds a slot's types by name: no aliases here. A panel sends
    // one or two events at a time: a flood is cut short, and one click per
    // entry waits at a time.
    QList<int> EventGroup(const QList<quarvel::EventoMenuSni>& eventos) {
        for (qsizetype i = 0; i < eventos.size() && i < kEventosMaximos; ++i)
            Event(eventos[i].id, eventos[i].evento, eventos[i].datos, eventos[i].momento);
        return {};
    }

    bool AboutToShow(int /*id*/) { return false; }

    QList<int> AboutToShowGroup(const QList<int>& /*ids*/, QList<int>& errores) {
        errores.clear();
        return {};
    }

signals:
    void LayoutUpdated(uint, int);
    void ItemActivationRequested(int, uint);

private:
    static constexpr qsizetype kEventosMaximos = 16;
    QList<QAction*> acciones() const {
        const QMenu* menu = item_->datos().menu;
        return menu ? menu->actions() : QList<QAction*>{};
    }
    ItemSni* item_;
    QSet<int> pendientes_;
    uint revision_ = 0;
};

// --- The item -----------------------------------------------------------------

ItemSni::ItemSni(Datos datos, QObject* parent)
    : QObject(parent)
    , datos_(std::move(datos)) {
    registrar_tipos();
    pixmaps_ = pixmaps_sni(datos_.icono);
    pixmaps_atencion_ = pixmaps_sni(icono_atencion(datos_.icono));
    new AdaptadorItem(this);
    auto* objeto_menu = new QObject(this);
    new AdaptadorMenu(objeto_menu, this);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    static std::atomic<int> numero{0};
    servicio_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                    .arg(QCoreApplication::applicationPid())
                    .arg(++numero);
    if (!bus.registerObject(kRutaItem, this, QDBusConnection::ExportAdaptors) ||
        !bus.registerObject(kRutaMenu, objeto_menu, QDBusConnection::ExportAdaptors) ||
        !bus.registerService(servicio_)) {
        servicio_.clear();
        return;
    }
    // A panel that restarts brings a new watcher, which must learn of the
    // item again; one that goes takes the item with it.
    al_llegar_vigilante(this, [this] { registrar_en_vigilante(); });
    al_irse_vigilante(this, [this] { fijar_registro(false); });
    registrar_en_vigilante();
}

ItemSni::~ItemSni() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (servicio_.isEmpty() || !bus.isConnected())
        return;
    bus.unregisterService(servicio_);
    bus.unregisterObject(kRutaMenu);
    bus.unregisterObject(kRutaItem);
}

void ItemSni::registrar_en_vigilante() {
    QDBusMessage m = QDBusMessage::createMethodCall(kVigilante, kRutaVigilante, kVigilante,
                                                    QStringLiteral("RegisterStatusNotifierItem"));
    m << servicio_;
    // Never waited on: a watcher that is slow, or never answers, must not
    // hold up the window (and the sets it times).
    pendiente_ = true;
    auto* espera = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(m, kEsperaVigilanteMs), this);
    connect(espera, &QDBusPendingCallWatcher::finished, this, [this, espera] {
        espera->deleteLater();
        pendiente_ = false;
        // Every answer is told, the first one too.
        registrado_ = !espera->isError();
        emit registro(registrado_);
    });
}

void ItemSni::fijar_registro(bool registrado) {
    if (registrado == registrado_)
        return;
    registrado_ = registrado;
    emit registro(registrado);
}

void ItemSni::setAtencion(bool atencion) {
    if (atencion == atencion_)
        return;
    atencion_ = atencion;
    emit NewStatus(atencion ? QStringLiteral("NeedsAttention") : QStringLiteral("Active"));
}

void ItemSni::setTexto(const QString& texto) {
    if (texto == texto_)
        return;
    texto_ = texto;
    emit NewToolTip();
}

void ItemSni::setTitulo(const QString& titulo) {
    if (titulo == datos_.titulo)
        return;
    datos_.titulo = titulo;
    emit NewTitle();
    emit NewToolTip();
}

void ItemSni::setIcono(const QIcon& icono) {
    if (icono.cacheKey() == datos_.icono.cacheKey())
        return;
    datos_.icono = icono;
    pixmaps_ = pixmaps_sni(icono);
    pixmaps_atencion_ = pixmaps_sni(icono_atencion(icono));
    emit NewIcon();
    emit NewAttentionIcon();
}

void ItemSni::setMenu(QMenu* menu) {
    if (menu == datos_.menu)
        return;
    datos_.menu = menu;
    emit menuCambiado();
}

void ItemSni::avisar(const QString& titulo, const QString& texto) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    m << datos_.titulo << uint(0) << datos_.nombre_icono << titulo << texto << QStringList()
      << QVariantMap() << 5000;
    QDBusConnection::sessionBus().asyncCall(m);
}

void ItemSni::activar(QPoint punto) {
    if (datos_.activado)
        datos_.activado(punto);
}

namespace {

// What the session bus last said of the watcher and its host, kept up to
// date by its signals and answers, never by waiting on them.
class EstadoSni : public QObject {
    Q_OBJECT
public:
    EstadoSni() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        auto* vigilante = new QDBusServiceWatcher(kVigilante, bus,
                                                  QDBusServiceWatcher::WatchForRegistration |
                                                      QDBusServiceWatcher::WatchForUnregistration,
                                                  this);
        connect(vigilante, &QDBusServiceWatcher::serviceRegistered, this, [this] { consultar(); });
        connect(vigilante, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { fijar(false); });
        bus.connect(kVigilante, kRutaVigilante, kVigilante,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(consultar()));
        consultar();
    }
    bool anfitrion() const { return anfitrion_; }

signals:
    void llega();
    void se_va();

public slots:
    void consultar() {
        if (consultando_)
            return;
        consultando_ = true;
        QDBusMessage m = QDBusMessage::createMethodCall(
            kVigilante, kRutaVigilante, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        m << kVigilante << QStringLiteral("IsStatusNotifierHostRegistered");
        auto* espera = new QDBusPendingCallWatcher(
            QDBusConnection::sessionBus().asyncCall(m, kEsperaVigilanteMs), this);
        connect(espera, &QDBusPendingCallWatcher::finished, this, [this, espera] {
            espera->deleteLater();
            consultando_ = false;
            const QDBusMessage r = espera->reply();
            fijar(r.type() == QDBusMessage::ReplyMessage && !r.arguments().isEmpty() &&
                  qvariant_cast<QDBusVariant>(r.arguments().constFirst()).variant().toBool());
        });
    }

private:
    void fijar(bool anfitrion) {
        const bool antes = anfitrion_;
        anfitrion_ = anfitrion;
        if (anfitrion && !antes)
            emit llega();
        else if (!anfitrion && antes)
            emit se_va();
    }
    bool anfitrion_ = false;
    bool consultando_ = false;
};

EstadoSni& estado_sni() {
    static auto* estado = new EstadoSni;
    return *estado;
}

} // namespace

void al_llegar_vigilante(QObject* contexto, std::function<void()> accion) {
    QObject::connect(&estado_sni(), &EstadoSni::llega, contexto,
                     [accion = std::move(accion)] { accion(); });
}

void al_irse_vigilante(QObject* contexto, std::function<void()> accion) {
    QObject::connect(&estado_sni(), &EstadoSni::se_va, contexto,
                     [accion = std::move(accion)] { accion(); });
}

bool hay_anfitrion_sni() {
    return estado_sni().anfitrion();
}

PixmapsSni pixmaps_sni(const QIcon& icono) {
    PixmapsSni r;
    for (int lado : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage imagen =
            icono.pixmap(QSize(lado, lado)).toImage().convertToFormat(QImage::Format_ARGB32);
        if (imagen.isNull() || imagen.width() != lado)
            continue;
        PixmapSni p{imagen.width(), imagen.height(), {}};
        p.datos.resize(static_cast<qsizetype>(imagen.width()) * imagen.height() * 4);
        auto* destino = reinterpret_cast<quint32*>(p.datos.data());
        for (int y = 0; y < imagen.height(); ++y) {
            const auto* fila = reinterpret_cast<const quint32*>(imagen.constScanLine(y));
            for (int x = 0; x < imagen.width(); ++x)
                *destino++ = qToBigEndian(fila[x]);
        }
        r << p;
    }
    return r;
}

} // namespace quarvel

#include "item_sni.moc"
