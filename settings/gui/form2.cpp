#include "settings/gui/form2.h"

#include "clock_link/config_linea.h"
#include "platform/fallo.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/gui/controles.h"
#include "platform/numeros.h"
#include "settings/archivos_config.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quarvel {

QStringList valores_que_no_sirven(const QString& port, const QString& baud, const QString& parity,
                                  const QString& data, const QString& stop) {
    QStringList r;
    try {
        const long n = entero_estricto(port, QStringLiteral("[COM_PORT]"));
        if (n < 1 || n > 255)
            r << QStringLiteral("Número de puerto no válido: %1 (debe estar entre 1 y 255)").arg(n);
    } catch (const Fallo& f) {
        r << f.descripcion();
    }
    // Each field beside good ones, so every bad one is named.
    const QString campos[4] = {baud, parity, data, stop};
    const QString buenos[4] = {QStringLiteral("9600"), QStringLiteral("N"), QStringLiteral("8"),
                               QStringLiteral("1")};
    for (int i = 0; i < 4; ++i) {
        QStringList prueba(std::begin(buenos), std::end(buenos));
        prueba[i] = campos[i];
        try {
            validar_settings(prueba.join(u','));
        } catch (const Fallo& f) {
            r << f.descripcion();
        }
    }
    return r;
}

Form2::Form2(CajaMensajes& mensajes, QWidget* parent)
    : QDialog(parent,
              Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
    , mensajes_(mensajes) {
    setObjectName(QStringLiteral("Form2"));
    fuente_de_ventana(this);
    setWindowTitle(QStringLiteral("Configuracion"));
    setFixedSize(2970 / kTwipsPorPixel, 2040 / kTwipsPorPixel);

    // Created in tab order.
    Command5 = colocar(new QPushButton(QStringLiteral("Guardar"), this), 1920, 240, 915, 255);
    Command1 = colocar(new QPushButton(QStringLiteral("Salir"), this), 1920, 660, 915, 255);
    Text1 = campo(this, 960, 240, 615, 255);
    etiqueta_de(this, Text1, QStringLiteral("Port"), 540, 240, 285, 195);
    Text2 = campo(this, 960, 600, 615, 255);
    etiqueta_de(this, Text2, QStringLiteral("Baud Rate"), 60, 600, 765, 195);
    Text3 = campo(this, 960, 960, 615, 255);
    etiqueta_de(this, Text3, QStringLiteral("Parity"), 420, 960, 390, 195);
    Text4 = campo(this, 960, 1320, 615, 255);
    etiqueta_de(this, Text4, QStringLiteral("Data"), 480, 1320, 345, 195);
    Text5 = campo(this, 960, 1680, 615, 255);
    etiqueta_de(this, Text5, QStringLiteral("Stop"), 480, 1680, 330, 195);

    // The delay group: filled, never shown, never saved.
    QWidget* g = controles_ocultos(this);
    auto* label6 = etiqueta(g, QStringLiteral("Delay en secuencia de envio (en milisegundos)"), 480,
                            2280, 2190, 435);
    label6->setWordWrap(true);
    Text6 = campo(g, 840, 2820, 375, 255);
    etiqueta_de(g, Text6, QStringLiteral("Dia"), 480, 2820, 240, 195);
    Text7 = campo(g, 840, 3180, 375, 255);
    etiqueta_de(g, Text7, QStringLiteral("Mes"), 420, 3180, 300, 195);
    Text8 = campo(g, 840, 3540, 375, 255);
    etiqueta_de(g, Text8, QStringLiteral("Ano"), 420, 3540, 285, 195);
    Text9 = campo(g, 2220, 2820, 375, 255);
    etiqueta_de(g, Text9, QStringLiteral("Hora"), 1740, 2820, 345, 195);
    Text10 = campo(g, 2220, 3180, 375, 255);
    etiqueta_de(g, Text10, QStringLiteral("Minutos"), 1500, 3180, 555, 195);
    Text11 = campo(g, 2220, 3540, 375, 255);
    etiqueta_de(g, Text11, QStringLiteral("Segundos"), 1380, 3540, 720, 195);
    Text12 = campo(g, 2220, 3900, 375, 255);
    etiqueta_de(g, Text12, QStringLiteral("Comando de grabacion"), 420, 3900, 1650, 195);
    g->setEnabled(false);

    // Enter saves: "Guardar" has the focus and is the default button.
    Command5->setDefault(true);
    Command5->setAutoDefault(true);
    Command1->setAutoDefault(false);
    setFocusProxy(Command5);
    Command5->setFocus();

    connect(Command5, &QPushButton::clicked, this, &Form2::Command5_Click);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
}

void Form2::Form_Load() {
    configuracion_ini c;
    try {
        c = leer_configuracion();
    } catch (const Fallo& f) {
        mensajes_.mostrar(parentWidget(), f.descripcion(), QStringLiteral("Configuracion"));
        return;
    }
    Text1->setText(c.com_port.value_or(QString()));
    if (c.com_cfg) {
        config_com partes;
        try {
            partes = separar_config_com(*c.com_cfg);
        } catch (const Fallo& f) {
            separar_config_com_parcial(*c.com_cfg, partes);
            mensajes_.mostrar(parentWidget(), f.descripcion(), QStringLiteral("Configuracion"));
        }
        Text2->setText(partes.baud);
        Text3->setText(partes.parity);
        Text4->setText(partes.data);
        Text5->setText(partes.stop);
    }
    const std::optional<QString>* retardos[] = {&c.t1, &c.t2, &c.t3, &c.t4, &c.t5, &c.t6, &c.t7};
    QLineEdit* campos[] = {Text6, Text7, Text8, Text9, Text10, Text11, Text12};
    for (int i = 0; i < 7; ++i)
        campos[i]->setText(retardos[i]->value_or(QString()));
}

void Form2::Command5_Click() {
    try {
        guardar_configuracion(Text1->text(), Text2->text(), Text3->text(), Text4->text(),
                              Text5->text());
    } catch (const Fallo& f) {
        mensajes_.mostrar(this, f.descripcion(), QStringLiteral("Configuracion"));
        return;
    }
    QString texto = QStringLiteral("La configuracion fue guardada correctamente\nPara que los "
                                   "cambios tengan efecto debe reiniciar el programa");
    // Saved as typed; what cannot work is said with it, not after a restart.
    const QStringList malos = valores_que_no_sirven(Text1->text(), Text2->text(), Text3->text(),
                                                    Text4->text(), Text5->text());
    if (!malos.isEmpty())
        texto += QStringLiteral("\n\nCon estos valores el programa no podrá usar el puerto; "
                                "corríjalos y guarde de nuevo:\n") +
                 malos.join(u'\n');
    mensajes_.informar(this, texto, QStringLiteral("Configuracion"),
                       malos.isEmpty() ? Prioridad::Info : Prioridad::Aviso);
}

void Form2::Command1_Click() {
    reject();
}

void abrir_configuracion(CajaMensajes& mensajes, QWidget* padre) {
    Form2 ventana(mensajes, padre);
    ventana.Form_Load();
    centrar(&ventana);
    ventana.exec();
}

} // namespace quarvel
