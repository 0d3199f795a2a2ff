#include "simulator/servidor.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <span>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quarvel::sim {

namespace {

constexpr Nanos kNanosPerMicro = 1000;
constexpr Nanos kRetry = 1'000'000;        // a full pty buffer is retried this often
constexpr Nanos kMasterPause = 50'000'000; // after an unexpected read error

int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int /*signal*/) {
    int saved = errno;
    char c = 1;
    [[maybe_unused]] auto n = write(signalPipe[1], &c, 1);
    errno = saved;
}

Nanos clockNanos(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<Nanos>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
}

// The device keeps wall-clock time, so it follows the PC's local time.
Micros wallMicros(Nanos real, bool utc) {
    Micros micros = real / kNanosPerMicro;
    if (utc)
        return micros;
    time_t secs = static_cast<time_t>(micros / kMicrosPerSecond);
    tm local{};
    localtime_r(&secs, &local);
    return micros + static_cast<Micros>(local.tm_gmtoff) * kMicrosPerSecond;
}

Nanos secondsToNanos(double seconds) {
    return std::llround(seconds * static_cast<double>(kNanosPerSecond));
}

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void systemError(const std::string& what) {
    std::fprintf(stderr, "simulador_reloj: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void createLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "simulador_reloj: %s existe y no es un enlace simbólico\n",
                         link.c_str());
            std::exit(1);
        }
        unlink(link.c_str()); // stale link from an earlier run
    }
    if (symlink(target.c_str(), link.c_str()) != 0)
        systemError("no se pudo crear el enlace " + link);
}

// Only remove the link if it is still ours; a newer simulator may own it.
void removeLink(const std::string& link, const std::string& target) {
    char buf[4096];
    ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n >= 0 && std::string(buf, static_cast<std::size_t>(n)) == target)
        unlink(link.c_str());
}

ClockDevice::Settings deviceSettings(const Options& o) {
    ClockDevice::Settings s;
    s.offsetSeconds = o.offset;
    s.driftPpm = o.driftPpm;
    s.mode = o.timeOnly ? DisplayMode::TimeOnly : DisplayMode::DateTime;
    s.ignoreEvery = o.ignoreEvery;
    s.sampleDelay = static_cast<Micros>(std::llround(o.sampleMs * 1000));
    return s;
}

std::string terminalLine(const Event& e, Nanos latency) {
    std::string when = formatDateTime(e.device).substr(0, 19);
    if (e.command == Command::Error)
        return "error: " + describeError(e) + " -> " + when;
    std::string line = "recibido " + std::string(commandName(e.command));
    if (e.value) {
        char buf[8];
        std::snprintf(buf, sizeof buf, " %02d", *e.value);
        line += buf;
    }
    if (e.ignored)
        return line + " -> ignorado (--ignore-every)";
    line += " -> " + when;
    if (e.command == Command::Query)
        line += e.reply.empty() ? " (sin respuesta)"
                                : " (respuesta en " + std::to_string(latency / 1'000'000) + " ms)";
    return line;
}

} // namespace

Servidor::Servidor(const Options& options)
    : opt_(options)
    , log_(openLog(options.logPath))
    , signalFd_(installSignalHandlers())
    , pty_(openPty())
    , portName_("COM" + std::to_string(options.port))
    , linkPath_(options.dir + "/" + portName_)
    , device_(deviceSettings(options), wallMicros(clockNanos(CLOCK_REALTIME), options.utc))
    , rng_(options.seed ? *options.seed : std::random_device{}())
    , incoming_(options.baud)
    , outgoing_(options.slowLine ? 1200 : options.baud, options.flood)
    , latency_(secondsToNanos(std::max(options.latencyMs, options.sampleMs) / 1000))
    , screen_(options.quiet, portName_ + " -> " + pty_.slavePath) {
    watchClients();
    createLink(linkPath_, pty_.slavePath);
    std::printf("listo: %s -> %s\n", portName_.c_str(), pty_.slavePath.c_str());
    std::fflush(stdout);

    const Nanos start = clockNanos(CLOCK_MONOTONIC);
    outgoing_.setListening(!trackClients_, start);
    deadline_ = std::numeric_limits<Nanos>::max();
    if (opt_.runFor > 0)
        deadline_ = start + secondsToNanos(opt_.runFor);
    if (opt_.vanishAfter > 0)
        deadline_ = std::min(deadline_, start + secondsToNanos(opt_.vanishAfter));
    knockAt_ = std::numeric_limits<Nanos>::max();
}

Servidor::~Servidor() {
    for (int fd : {pty_.master, pty_.slave, inotifyFd_})
        if (fd >= 0)
            close(fd);
    if (log_)
        std::fclose(log_);
}

FILE* Servidor::openLog(const std::string& path) {
    if (path.empty())
        return nullptr;
    FILE* log = std::fopen(path.c_str(), "w");
    if (!log)
        usageError("no se puede escribir el registro '" + path + "': " + std::strerror(errno));
    return log;
}

int Servidor::installSignalHandlers() {
    if (pipe(signalPipe) != 0)
        systemError("pipe");
    setNonBlocking(signalPipe[0]);
    setNonBlocking(signalPipe[1]);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return signalPipe[0];
}

Servidor::Pty Servidor::openPty() {
    Pty p;
    p.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (p.master < 0 || grantpt(p.master) != 0 || unlockpt(p.master) != 0)
        systemError("no se pudo abrir el pseudo-terminal");
    const char* name = ptsname(p.master);
    if (!name)
        systemError("ptsname");
    p.slavePath = name;
    p.slave = open(name, O_RDWR | O_NOCTTY);
    if (p.slave < 0)
        systemError("no se pudo abrir " + p.slavePath);
    termios tio{};
    if (tcgetattr(p.slave, &tio) != 0)
        systemError("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(p.slave, TCSANOW, &tio) != 0)
        systemError("tcsetattr");
    setNonBlocking(p.master);
    setNonBlocking(p.slave);
    return p;
}

// Count client opens of the slave so bytes sent while nobody has the port
// open are lost, as on a real line, instead of waiting for the next client.
void Servidor::watchClients() {
    inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    trackClients_ = inotifyFd_ >= 0 &&
                    inotify_add_watch(inotifyFd_, pty_.slavePath.c_str(), IN_OPEN | IN_CLOSE) >= 0;
}

int Servidor::run() {
    bool vanished = false;
    for (;;) {
        Nanos now = clockNanos(CLOCK_MONOTONIC);
        if (now >= deadline_) {
            vanished =
                opt_.vanishAfter > 0 && (opt_.runFor <= 0 || opt_.vanishAfter <= opt_.runFor);
            break;
        }
        if (now >= knockAt_) {
            knockAt_ = std::numeric_limits<Nanos>::max();
            device_.knock(std::llround(opt_.knockSeconds * 1e6));
            char linea[80];
            std::snprintf(linea, sizeof linea, "golpe: el reloj salta %+.3f s", opt_.knockSeconds);
            screen_.message(linea);
            if (log_) {
                std::fprintf(log_, "{\"t_us\":%lld,\"knock_s\":%.3f}\n",
                             static_cast<long long>(clockNanos(CLOCK_REALTIME) / kNanosPerMicro),
                             opt_.knockSeconds);
                std::fflush(log_);
            }
        }
        sendDue(now);
        Nanos wake = std::min({deadline_, knockAt_, showFace(now)});
        if (!waitAndServe(now, wake))
            break;
    }
    shutdown(vanished);
    return 0;
}

void Servidor::sendDue(Nanos now) {
    for (auto slot = outgoing_.next(); slot && slot->start <= now; slot = outgoing_.next()) {
        if (!trackClients_ || clients_ > 0) {
            // A full buffer holds a reply back; filler that does not fit is lost.
            if (write(pty_.master, &slot->byte, 1) != 1 && !slot->filler)
                break;
        }
        outgoing_.commit(*slot);
    }
}

// Draws the face; returns when the device's next second begins.
Nanos Servidor::showFace(Nanos now) {
    DateTime shown = device_.now(wallMicros(clockNanos(CLOCK_REALTIME), opt_.utc));
    screen_.face(faceText(shown, device_.mode()), device_.mode());
    double rate = 1.0 + device_.clock().driftPpm() * 1e-6;
    auto toNextSecond = static_cast<Micros>((kMicrosPerSecond - shown.micros) / rate) + 1000;
    return now + toNextSecond * kNanosPerMicro;
}

// Returns false once a signal asks to stop.
bool Servidor::waitAndServe(Nanos now, Nanos wake) {
    if (auto slot = outgoing_.next())
        wake = std::min(wake, std::max(slot->start, now + kRetry));
    pollfd fds[3];
    nfds_t nfds = 0;
    fds[nfds++] = {signalFd_, POLLIN, 0};
    int masterIndex = -1;
    if (now >= masterPausedUntil_) {
        masterIndex = static_cast<int>(nfds);
        fds[nfds++] = {pty_.master, POLLIN, 0};
    } else {
        wake = std::min(wake, masterPausedUntil_);
    }
    int inotifyIndex = -1;
    if (trackClients_) {
        inotifyIndex = static_cast<int>(nfds);
        fds[nfds++] = {inotifyFd_, POLLIN, 0};
    }
    Nanos wait = std::max<Nanos>(0, wake - now);
    timespec timeout{static_cast<time_t>(wait / kNanosPerSecond),
                     static_cast<long>(wait % kNanosPerSecond)};
    if (ppoll(fds, nfds, &timeout, nullptr) < 0) {
        if (errno == EINTR)
            return true;
        systemError("ppoll");
    }
    if (fds[0].revents & POLLIN)
        return false;
    if (inotifyIndex >= 0 && (fds[inotifyIndex].revents & POLLIN))
        readClientEvents();
    if (masterIndex >= 0 && fds[masterIndex].revents)
        readCommands();
    return true;
}

void Servidor::readClientEvents() {
    alignas(inotify_event) char buf[4096];
    ssize_t n = 0;
    while ((n = read(inotifyFd_, buf, sizeof buf)) > 0) {
        for (char* p = buf; p < buf + n;) {
            auto* ev = reinterpret_cast<inotify_event*>(p);
            if (ev->mask & IN_OPEN)
                ++clients_;
            if ((ev->mask & IN_CLOSE) && --clients_ <= 0) {
                clients_ = 0;
                // A real port forgets both when its last user closes it; our
                // own slave fd would otherwise keep them alive.
                tcflush(pty_.slave, TCIFLUSH);
                ioctl(pty_.slave, TIOCNXCL);
            }
            p += sizeof(inotify_event) + ev->len;
        }
    }
    outgoing_.setListening(clients_ > 0, clockNanos(CLOCK_MONOTONIC));
}

void Servidor::readCommands() {
    std::uint8_t buf[512];
    ssize_t n = read(pty_.master, buf, sizeof buf);
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
        // EIO means no slave is open; ours should prevent it, but do not spin
        // if it happens anyway.
        masterPausedUntil_ = clockNanos(CLOCK_MONOTONIC) + kMasterPause;
        return;
    }
    if (n <= 0)
        return;
    const Nanos readReal = clockNanos(CLOCK_REALTIME);
    const Nanos readMono = clockNanos(CLOCK_MONOTONIC);
    // Byte by byte, so each command acts when its last byte is in.
    for (std::uint8_t& b : std::span(buf, static_cast<std::size_t>(n))) {
        Nanos end = incoming_.byteEnd(readReal);
        for (auto& e : device_.feed({&b, 1}, wallMicros(end, opt_.utc)))
            handle(e, end, readMono + (end - readReal));
    }
}

void Servidor::handle(Event& event, Nanos endReal, Nanos endMono) {
    if (event.command == Command::EndSetting && opt_.knockAfter > 0 && !knockArmed_) {
        knockArmed_ = true;
        knockAt_ = endMono + secondsToNanos(opt_.knockAfter);
    }
    if (event.command == Command::Query && !event.reply.empty()) {
        applyReplyFaults(event);
        outgoing_.queueReply(event.reply, endMono + latency_);
    }
    screen_.message(terminalLine(event, latency_));
    if (log_) {
        std::fprintf(log_, "%s\n", toJsonLine(event, endReal / kNanosPerMicro).c_str());
        std::fflush(log_);
    }
}

void Servidor::applyReplyFaults(Event& event) {
    if (opt_.noReply) {
        event.reply.clear();
    } else if (opt_.garbageReply) {
        std::uniform_int_distribution<int> dist(0, 254);
        for (std::size_t i = 0; i + 1 < event.reply.size(); ++i) {
            int b = dist(rng_);
            event.reply[i] = static_cast<std::uint8_t>(b >= 0x53 ? b + 1 : b);
        }
    }
}

void Servidor::shutdown(bool vanished) {
    close(pty_.master);
    close(pty_.slave);
    pty_.master = pty_.slave = -1;
    removeLink(linkPath_, pty_.slavePath);
    screen_.finish();
    if (vanished)
        std::printf("desaparecido: %s cerrado\n", portName_.c_str());
    else
        std::printf("fin: %s\n", portName_.c_str());
    std::fflush(stdout);
    if (log_)
        std::fclose(log_);
    log_ = nullptr;
}

} // namespace quarvel::sim
