// Measures the figures the README quotes, against the clock simulator:
// how close the clock is set, how exact the chain's spacing is, how fast a
// read-back ends, how soon a new second shows, idle CPU and memory, and
// start-up time. Run by hand: quarvel_bench [--rapido]
#include "checker/form1.h"
#include "clock_link/puerto_serie_qt.h"
#include "platform/fuente_hora.h"
#include "platform/gui/caja_mensajes.h"
#include "platform/temporizador.h"
#include "sender/form1.h"
#include "simulator/control/simulador_proceso.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace quarvel;

namespace {

struct Resumen {
    double mediana = NAN, peor = NAN;
    std::size_t n = 0;
};

// Median and the value farthest from zero.
Resumen resumir(std::vector<double> v) {
    Resumen r;
    r.n = v.size();
    if (v.empty())
        return r;
    std::sort(v.begin(), v.end());
    r.mediana = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    r.peor = *std::max_element(v.begin(), v.end(),
                               [](double a, double b) { return std::abs(a) < std::abs(b); });
    return r;
}

void fila(const char* que, const Resumen& r, const char* unidad) {
    std::printf("| %-58s | %5zu | %9.1f | %9.1f | %-3s |\n", que, r.n, r.mediana, r.peor, unidad);
}

void esperar(int ms) {
    QDeadlineTimer fin(ms);
    while (!fin.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

class Carpeta {
public:
    Carpeta(int retardo, const char* intervalo) {
        anterior_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        escribir("qv.ini", contenido_qv_ini(1, QStringLiteral("9600,N,8,1"), retardo));
        escribir("qv_int.ini", QByteArray(intervalo) + "\r\n");
    }
    ~Carpeta() { QDir::setCurrent(anterior_); }
    QString ruta() const { return dir_.path(); }
    static void escribir(const char* nombre, const QByteArray& datos) {
        QFile f(QString::fromLatin1(nombre));
        if (f.open(QIODevice::WriteOnly))
            f.write(datos);
    }

private:
    QTemporaryDir dir_;
    QString anterior_;
};

// The clock's offset from the PC when each seconds byte arrived, in ms.
std::vector<double> desvios_al_segundo(const std::vector<ComandoRecibido>& c) {
    std::vector<double> r;
    for (const auto& x : c)
        if (x.cmd == QStringLiteral("S") && x.aparato.isValid())
            r.push_back(static_cast<double>(x.aparato.toMSecsSinceEpoch()) -
                        static_cast<double>(x.t_us) / 1000.0);
    return r;
}

// Each step's distance from the previous one, less the configured delay.
std::vector<double> desvios_de_paso(const std::vector<ComandoRecibido>& c, int retardo) {
    std::vector<double> r;
    for (std::size_t i = 1; i < c.size(); ++i) {
        if (c[i].cmd == QStringLiteral("D") || c[i].cmd == QStringLiteral("CX") ||
            c[i].cmd == QStringLiteral("error"))
            continue;
        r.push_back(static_cast<double>(c[i].t_us - c[i - 1].t_us) / 1000.0 - retardo);
    }
    return r;
}

void pausa_al_azar() {
    esperar(static_cast<int>(QRandomGenerator::global()->bounded(1000)));
}

struct Juego {
    std::vector<double> desvio, paso;
};

Juego sets_del_sender(int veces) {
    Carpeta carpeta(100, "1000");
    SimuladorProceso sim(ruta_simulador(), carpeta.ruta());
    Juego j;
    if (!sim.iniciar({QStringLiteral("--offset"), QStringLiteral("-125")}))
        return j;
    PuertoSerieQt puerto;
    HoraDelSistema hora;
    CajaMensajesQt mensajes;
    quarvel38::Form1 f(quarvel38::Entorno{&puerto, &hora, &mensajes, {}});
    f.Form_Load();
    esperar(2100);
    for (int i = 1; i <= veces; ++i) {
        pausa_al_azar();
        f.Command1_Click();
        sim.esperarComando(QStringLiteral("CF"), i, 3000);
    }
    const auto c = sim.comandos();
    j.desvio = desvios_al_segundo(c);
    j.paso = desvios_de_paso(c, 100);
    return j;
}

struct Checker {
    PuertoSerieQt puerto;
    HoraDelSistema hora;
    CajaMensajesQt mensajes;
    std::unique_ptr<quarvel430::Form1> form;
    Checker() {
        quarvel430::Entorno e;
        e.puerto = &puerto;
        e.hora = &hora;
        e.mensajes = &mensajes;
        e.notificar = [](std::uint32_t, const NotifyIconData*) { return false; };
        e.hay_bandeja = [] { return false; };
        form = std::make_unique<quarvel430::Form1>(e);
        form->Form_Load();
        form->Timer1->setEnabled(false);
    }
};

Juego sets_del_checker(int veces, std::vector<double>& lectura) {
    Carpeta carpeta(100, "1000");
    SimuladorProceso sim(ruta_simulador(), carpeta.ruta());
    Juego j;
    if (!sim.iniciar({QStringLiteral("--offset"), QStringLiteral("-125")}))
        return j;
    Checker ch;
    esperar(2100);
    for (int i = 1; i <= veces; ++i) {
        pausa_al_azar();
        ch.form->Timer1_Timer();
        sim.esperarComando(QStringLiteral("CF"), i, 3000);
    }
    auto c = sim.comandos();
    j.desvio = desvios_al_segundo(c);
    j.paso = desvios_de_paso(c, 100);

    // Read-backs: from the reply's last byte leaving the simulator (its
    // latency of 20 ms and 15 bytes at 9600 baud after the request came) to
    // the read-back's return.
    constexpr double kRespuestaMs = 20.0 + 15 * 10000.0 / 9600.0;
    for (int i = 0; i < veces / 2; ++i) {
        ch.form->chekeo_de_datos();
        const double fin_ms = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
        ch.form->Timer1->setEnabled(false);
        c = sim.comandos();
        for (auto it = c.rbegin(); it != c.rend(); ++it)
            if (it->cmd == QStringLiteral("CX")) {
                lectura.push_back(fin_ms - (static_cast<double>(it->t_us) / 1000.0 + kRespuestaMs));
                break;
            }
        esperar(50);
    }
    return j;
}

// How long after the PC's change of second each new second showed.
std::vector<double> retrasos_de_pantalla(QLineEdit* campo, int segundos) {
    std::vector<double> r;
    QObject::connect(campo, &QLineEdit::textChanged, campo, [&r] {
        const int ms = QTime::currentTime().msec();
        r.push_back(ms);
    });
    esperar(segundos * 1000);
    QObject::disconnect(campo, &QLineEdit::textChanged, nullptr, nullptr);
    return r;
}

struct Consumo {
    double cpu_pct = NAN, rss_inicio_kb = NAN, rss_fin_kb = NAN;
};

double ticks_de(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return NAN;
    const QByteArray s = f.readAll();
    const QList<QByteArray> campos = s.mid(s.lastIndexOf(')') + 2).split(' ');
    return campos.size() > 13 ? campos[11].toDouble() + campos[12].toDouble() : NAN;
}

double rss_de(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return NAN;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith("VmRSS:"))
            return l.mid(6).trimmed().split(' ').value(0).toDouble();
    return NAN;
}

std::vector<Consumo> consumo_en_reposo(int segundos) {
    Carpeta carpeta(100, "1000");
    SimuladorProceso sim(ruta_simulador(), carpeta.ruta());
    sim.iniciar();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess programas[2];
    const char* binarios[2] = {QUARVEL_SENDER, QUARVEL_CHECKER};
    for (int i = 0; i < 2; ++i) {
        programas[i].setWorkingDirectory(carpeta.ruta());
        programas[i].setProcessEnvironment(env);
        programas[i].start(QString::fromLatin1(binarios[i]), {});
        programas[i].waitForStarted();
    }
    esperar(5000);
    std::vector<Consumo> r(2);
    double t0[2];
    for (int i = 0; i < 2; ++i) {
        t0[i] = ticks_de(programas[i].processId());
        r[i].rss_inicio_kb = rss_de(programas[i].processId());
    }
    esperar(segundos * 1000);
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (int i = 0; i < 2; ++i) {
        r[i].cpu_pct = (ticks_de(programas[i].processId()) - t0[i]) / hz / segundos * 100.0;
        r[i].rss_fin_kb = rss_de(programas[i].processId());
        programas[i].terminate();
        programas[i].waitForFinished(3000);
    }
    return r;
}

// Start-up to a shown window, on a virtual display; empty without Xvfb.
std::vector<double> arranques(const char* binario, const char* titulo, int veces) {
    std::vector<double> r;
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        return r;
    Carpeta carpeta(100, "1000");
    QProcess x;
    x.start(QStringLiteral("Xvfb"),
            {QStringLiteral(":87"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    x.waitForStarted();
    esperar(1000);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":87"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    for (int i = 0; i < veces; ++i) {
        QProcess p;
        p.setWorkingDirectory(carpeta.ruta());
        p.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        p.start(QString::fromLatin1(binario), {});
        // Polled every 10 ms: xdotool's own --sync waits half a second.
        while (t.elapsed() < 10000) {
            QProcess busca;
            busca.setProcessEnvironment(env);
            busca.start(QStringLiteral("xdotool"),
                        {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                         QStringLiteral("--name"), QString::fromLatin1(titulo)});
            busca.waitForFinished(2000);
            if (busca.exitCode() == 0) {
                r.push_back(static_cast<double>(t.elapsed()));
                break;
            }
            QThread::msleep(10);
        }
        p.terminate();
        p.waitForFinished(3000);
    }
    x.terminate();
    x.waitForFinished(3000);
    return r;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool rapido = app.arguments().contains(QStringLiteral("--rapido"));
    const int veces = rapido ? 6 : 30;
    const int reposo_s = rapido ? 10 : 60;

    std::printf("Quarvel benchmark, %s, %s, %d cores\n\n",
                qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)),
                qPrintable(QSysInfo::prettyProductName()), QThread::idealThreadCount());
    std::printf("| %-58s | %5s | %9s | %9s | %-3s |\n", "measure", "n", "median", "worst", "");
    std::printf("|%s|-------|-----------|-----------|-----|\n", std::string(60, '-').c_str());

    const Juego sender = sets_del_sender(veces);
    fila("sender Inicio: clock minus PC at the seconds byte", resumir(sender.desvio), "ms");
    fila("sender chain: step spacing minus its 100 ms delay", resumir(sender.paso), "ms");

    std::vector<double> lectura;
    const Juego checker = sets_del_checker(veces, lectura);
    fila("checker update: clock minus PC at the seconds byte", resumir(checker.desvio), "ms");
    fila("checker update: step spacing minus its 100 ms delay", resumir(checker.paso), "ms");
    fila("read-back: reply's last byte to the end of the read-back", resumir(lectura), "ms");

    {
        Carpeta carpeta(100, "1000");
        PuertoSerieQt puerto;
        HoraDelSistema hora;
        CajaMensajesQt mensajes;
        quarvel38::Form1 f(quarvel38::Entorno{&puerto, &hora, &mensajes, {}});
        f.Form_Load();
        fila("sender display: a new second shows after the PC's change",
             resumir(retrasos_de_pantalla(f.Text1, rapido ? 5 : 20)), "ms");
        Checker ch;
        fila("checker display: a new second shows after the PC's change",
             resumir(retrasos_de_pantalla(ch.form->Text1, rapido ? 5 : 20)), "ms");
    }

    fila("Quarvel38 start-up to a shown window (Xvfb)",
         resumir(arranques(QUARVEL_SENDER, "^Quarvel 3\\.8$", 5)), "ms");
    fila("Quarvel430 start-up to a shown window (Xvfb, no tray)",
         resumir(arranques(QUARVEL_CHECKER, "^Quarvel 4\\.3$", 5)), "ms");

    const auto consumo = consumo_en_reposo(reposo_s);
    std::printf("\nIdle over %d s (offscreen): ", reposo_s);
    const char* nombres[2] = {"Quarvel38", "Quarvel430"};
    for (int i = 0; i < 2; ++i)
        std::printf("%s %.2f %% of a core, RSS %.0f -> %.0f KiB%s", nombres[i], consumo[i].cpu_pct,
                    consumo[i].rss_inicio_kb, consumo[i].rss_fin_kb, i == 0 ? "; " : "\n");
    return 0;
}
