#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace quarvel {

class CajaMensajes;

// "Configuracion": edits the port number and line settings of "qv.ini".
class Form2 : public QDialog {
    Q_OBJECT
public:
    Form2(CajaMensajes& mensajes, QWidget* parent = nullptr);

    // Fills the fields from "qv.ini"; runs at each opening.
    void Form_Load();
    void Command5_Click(); // "Guardar"
    void Command1_Click(); // "Salir"

    QPushButton* Command5;
    QPushButton* Command1;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QLineEdit* Text5;
    // The delay group: filled, never shown, never saved.
    QLineEdit* Text6;
    QLineEdit* Text7;
    QLineEdit* Text8;
    QLineEdit* Text9;
    QLineEdit* Text10;
    QLineEdit* Text11;
    QLineEdit* Text12;

private:
    CajaMensajes& mensajes_;
};

// Creates the window, fills it and shows it modally; returns when closed.
void abrir_configuracion(CajaMensajes& mensajes, QWidget* padre);

// The values of the window that no port can work with, each named as a
// start would name it; empty when all can.
QStringList valores_que_no_sirven(const QString& port, const QString& baud, const QString& parity,
                                  const QString& data, const QString& stop);

} // namespace quarvel
