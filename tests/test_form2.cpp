#include "settings/gui/form2.h"
#include "tests/ventanas.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using quarvel::Form2;

namespace {

class Configuracion : public ::testing::Test {
protected:
    std::unique_ptr<Form2> abrir() {
        auto f = std::make_unique<Form2>(caja);
        f->Form_Load();
        return f;
    }
    CarpetaTemporal dir;
    CajaFalsa caja;
};

QStringList campos(const Form2& f) {
    return {f.Text1->text(), f.Text2->text(), f.Text3->text(), f.Text4->text(), f.Text5->text()};
}

} // namespace

TEST_F(Configuracion, OpensFilledAndSaveRewritesTheLayout) {
    const QByteArray viejo =
        "nota\r\n[T1]\r\n10\r\n[COM_CFG]\r\n19200,E,7,1.5\r\n[COM_PORT]\r\n2\r\n";
    CarpetaTemporal::escribir("qv.ini", viejo);
    auto f = abrir();
    EXPECT_EQ(f->windowTitle(), "Configuracion");
    EXPECT_EQ(campos(*f), (QStringList{"2", "19200", "E", "7", "5"}));
    EXPECT_EQ(f->Text6->text(), "10");
    EXPECT_FALSE(f->Text6->isVisibleTo(f.get()) || f->Text6->isEnabled());
    EXPECT_GT(f->Text6->y(), f->height());
    EXPECT_TRUE(caja.mensajes.empty());

    f->Command5_Click();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_EQ(caja.mensajes[0].titulo, "Configuracion");
    // Saved as shown, "5" stop bits included; the box says it cannot work.
    EXPECT_EQ(caja.mensajes[0].texto, "La configuracion fue guardada correctamente\nPara que los "
                                      "cambios tengan efecto debe reiniciar el programa\n\nCon "
                                      "estos valores el programa no podrá usar el puerto; "
                                      "corríjalos y guarde de nuevo:\nBits de parada no válidos: "
                                      "\"5\" (1, 1.5 o 2)");
    const QByteArray nuevo = CarpetaTemporal::leer("qv.ini");
    EXPECT_TRUE(nuevo.startsWith(
        "[COM_PORT]\r\n2\r\n\r\n[COM_CFG]\r\n19200,E,7,5\r\n\r\n[T1]\r\n 100 \r\n"));
    EXPECT_TRUE(nuevo.endsWith("[T7]\r\n 100 \r\n"));
    EXPECT_EQ(nuevo.count("\r\n"), 26);
    EXPECT_EQ(campos(*f)[4], "5") << "fields stay as they were";
}

TEST(ValoresQueNoSirven, EachBadFieldIsNamed) {
    const struct {
        QStringList campos;
        QStringList dichos;
    } casos[] = {
        {{"1", "9600", "N", "8", "1"}, {}},
        {{"255", "4000000", "s", "5", "1.5"}, {}},
        {{"300", "9600", "N", "8", "1"}, {"Número de puerto no válido: 300"}},
        {{"0", "9600", "N", "8", "1"}, {"Número de puerto no válido: 0"}},
        {{"1;", "0", "X", "9", "3"},
         {"[COM_PORT]", "Velocidad del puerto", "Paridad", "Bits de datos", "Bits de parada"}},
        {{"1", "9600", "N", "X", "1"}, {"Bits de datos no válidos: \"X\""}},
    };
    for (const auto& c : casos) {
        const QStringList r = quarvel::valores_que_no_sirven(c.campos[0], c.campos[1], c.campos[2],
                                                             c.campos[3], c.campos[4]);
        ASSERT_EQ(r.size(), c.dichos.size()) << c.campos.join(',').toStdString();
        for (int i = 0; i < r.size(); ++i)
            EXPECT_TRUE(r[i].contains(c.dichos[i])) << r[i].toStdString();
    }
}

TEST_F(Configuracion, SalirDiscardsEdits) {
    const QByteArray viejo = qv_ini("1", "9600,N,8,1");
    CarpetaTemporal::escribir("qv.ini", viejo);
    auto f = abrir();
    f->Text1->setText("7");
    f->Command1->click();
    EXPECT_EQ(f->result(), QDialog::Rejected);
    EXPECT_EQ(CarpetaTemporal::leer("qv.ini"), viejo);
    EXPECT_EQ(abrir()->Text1->text(), "1");
}

TEST_F(Configuracion, EnterRightAfterOpeningSaves) {
    CarpetaTemporal::escribir("qv.ini", qv_ini("3", "4800,O,7,2", {"5"}));
    auto f = abrir();
    f->show();
    QApplication::setActiveWindow(f.get());
    ASSERT_TRUE(esperar_activa(f.get()));
    EXPECT_EQ(QApplication::focusWidget(), f->Command5);
    pulsar_tecla(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_TRUE(CarpetaTemporal::leer("qv.ini").contains("[T1]\r\n 100 \r\n"));
    EXPECT_TRUE(f->isVisible()) << "saving does not close the window";
}

TEST_F(Configuracion, MissingFileOpensEmptyAndCanSaveAGoodOne) {
    auto f = abrir();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_EQ(caja.mensajes[0].titulo, "Configuracion");
    EXPECT_TRUE(caja.mensajes[0].texto.contains("qv.ini"));
    EXPECT_EQ(campos(*f), QStringList(5, QString()));
    f->Text1->setText("1");
    f->Text2->setText("9600");
    f->Text3->setText("N");
    f->Text4->setText("8");
    f->Text5->setText("1");
    f->Command5_Click();
    EXPECT_EQ(caja.mensajes.back().texto.left(16), "La configuracion");
    EXPECT_TRUE(CarpetaTemporal::leer("qv.ini").startsWith(
        "[COM_PORT]\r\n1\r\n\r\n[COM_CFG]\r\n9600,N,8,1\r\n"));
}

TEST_F(Configuracion, ShortSettingsStringFillsWhatItCan) {
    CarpetaTemporal::escribir("qv.ini", qv_ini("4", "9600,N"));
    auto f = abrir();
    ASSERT_EQ(caja.mensajes.size(), 1u);
    EXPECT_TRUE(caja.mensajes[0].texto.contains("9600,N"));
    EXPECT_EQ(campos(*f), (QStringList{"4", "9600", "", "", ""}));
    caja.mensajes.clear();
    CarpetaTemporal::escribir("qv.ini", qv_ini("4", "9600,E,") + "[T7]");
    auto g = abrir();
    EXPECT_EQ(caja.mensajes.size(), 1u) << "an unreadable file is reported too";
    EXPECT_EQ(campos(*g), QStringList(5, QString()));
}
