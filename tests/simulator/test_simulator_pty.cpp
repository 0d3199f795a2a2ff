// Runs the real simulador_reloj and talks to it through its COM link.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Polls every 5 ms for up to 3 s.
void waitFor(const std::function<bool()>& done, Clock::duration limit = 3s) {
    for (auto end = Clock::now() + limit; !done() && Clock::now() < end;)
        std::this_thread::sleep_for(5ms);
}

// The simulator with its link, log and output in a fresh folder. `options`,
// split at spaces, come last so they can override those.
class Simulator {
public:
    explicit Simulator(const std::string& options) {
        char tmpl[] = "/tmp/simreloj_XXXXXX";
        dir_ = mkdtemp(tmpl);
        std::vector<std::string> args = {SIMULADOR_RELOJ, "--dir",       dir_,
                                         "--log",         dir_ + "/log", "--quiet"};
        std::istringstream extra(options);
        for (std::string a; extra >> a;)
            args.push_back(a);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = dir_ + "/out";
        pid_ = fork();
        if (pid_ == 0) {
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        waitFor([this] { return ready() || exited(); });
    }

    ~Simulator() {
        if (!exited()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }

    bool ready() const { return output().find("listo: COM1 -> ") != std::string::npos; }
    std::string link() const { return dir_ + "/COM1"; }
    // Standard output and error.
    std::string output() const {
        std::ifstream in(dir_ + "/out");
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // The exit status, or -1 if it still runs 3 s later.
    // Generous: a loaded machine (a sanitized build beside other work) may
    // take seconds over what the simulator was told.
    int waitForExit() {
        waitFor([this] { return exited(); }, 15s);
        return status_;
    }

    int terminate() {
        kill(pid_, SIGTERM);
        return waitForExit();
    }

    // Waits up to 3 s for at least `count` lines.
    std::vector<std::string> logLines(std::size_t count = 0) const {
        std::vector<std::string> lines;
        waitFor([&] {
            std::ifstream in(dir_ + "/log");
            lines.clear();
            for (std::string l; std::getline(in, l);)
                lines.push_back(l);
            return lines.size() >= count;
        });
        return lines;
    }

private:
    bool exited() {
        int status = 0;
        if (status_ < 0 && waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_ >= 0;
    }

    std::string dir_;
    pid_t pid_ = -1;
    int status_ = -1;
};

int openPort(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

void writeAll(int fd, const std::string& data) {
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
}

struct Received {
    std::vector<unsigned char> bytes;
    Clock::duration firstAfter{};
    Clock::duration lastAfter{};
};

// Times count from `start` (a moment before the write the bytes answer), so
// a stall of the test can only make them longer.
Received readBytes(int fd, std::size_t want, std::chrono::milliseconds limit,
                   Clock::time_point start = Clock::now()) {
    Received r;
    while (r.bytes.size() < want && Clock::now() - start < limit) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5) <= 0)
            continue;
        unsigned char buf[64];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            continue;
        if (r.bytes.empty())
            r.firstAfter = Clock::now() - start;
        r.bytes.insert(r.bytes.end(), buf, buf + n);
        r.lastAfter = Clock::now() - start;
    }
    return r;
}

Received query(const std::string& link, std::chrono::milliseconds limit = 2s) {
    int fd = openPort(link);
    EXPECT_GE(fd, 0) << link;
    const auto start = Clock::now();
    writeAll(fd, "CX");
    Received r = readBytes(fd, 15, limit, start);
    close(fd);
    return r;
}

// A number or string field of one log line.
std::string logField(const std::string& line, const std::string& name) {
    std::smatch m;
    std::regex_search(line, m, std::regex("\"" + name + "\":\"?([^\",}]*)"));
    return m[1];
}

// Writes `bytes` on an idle line and leaves it idle. Each command is logged
// once its last byte, `ends` bytes into the write, is in at 10 bits a byte.
void expectLineTimes(Simulator& sim, double baud, const std::string& bytes,
                     const std::vector<int>& ends) {
    const double byteUs = 10e6 / baud;
    const std::size_t from = sim.logLines().size();
    int fd = openPort(sim.link());
    ASSERT_GE(fd, 0);
    const auto written = std::chrono::duration<double, std::micro>(
        std::chrono::system_clock::now().time_since_epoch());
    writeAll(fd, bytes);
    auto lines = sim.logLines(from + ends.size());
    close(fd);
    ASSERT_EQ(lines.size(), from + ends.size()) << baud << " baud";
    const double first = std::stod(logField(lines[from], "t_us"));
    EXPECT_GE(first - written.count(), ends[0] * byteUs - 1) << lines[from];
    // Generous: a loaded machine wakes the simulator late.
    EXPECT_LT(first - written.count(), ends[0] * byteUs + 2'000'000) << lines[from];
    for (std::size_t i = 1; i < ends.size(); ++i) {
        EXPECT_NEAR(std::stod(logField(lines[from + i], "t_us")) - first,
                    (ends[i] - ends[0]) * byteUs, 1.0)
            << lines[from + i];
    }
    std::this_thread::sleep_for(50ms); // longer than any write here takes to arrive
}

} // namespace

TEST(SimulatorPty, SetQueryLogAndTerminate) {
    Simulator sim("");
    ASSERT_TRUE(sim.ready());
    ASSERT_NO_FATAL_FAILURE(expectLineTimes(
        sim, 9600, std::string("D\x05M\x12Y\x27H\x14m\x05S\x07") + "CW", {2, 4, 6, 8, 10, 12, 14}));
    auto lines = sim.logLines();
    const char* const commands[] = {"D5", "M12", "Y27", "H14", "m5", "S7", "CW"};
    for (std::size_t i = 0; i < std::size(commands); ++i)
        EXPECT_EQ(logField(lines[i], "cmd") + logField(lines[i], "value"), commands[i]);
    // Each command acts when its last byte is in: seconds zero the fraction.
    EXPECT_EQ(logField(lines[5], "device"), "05/12/2027 14:05:07.000");
    EXPECT_EQ(logField(lines[6], "device"), "05/12/2027 14:05:07.002");

    // A reply nobody is there to read is lost, not kept for the next client.
    query(sim.link(), 0ms);
    std::this_thread::sleep_for(150ms);

    // Clients open and close the port for every exchange.
    for (int i = 0; i < 3; ++i) {
        Received r = query(sim.link());
        ASSERT_EQ(r.bytes.size(), 15u) << "exchange " << i;
        EXPECT_GE(r.firstAfter, 10ms) << "not the fresh reply";
        const std::vector<unsigned char> expected = {
            'C', 'X', 'd', 0x05, 'm', 0x12, 'y', 0x27, 'h', 0x14, 'n', 0x05, 's', r.bytes[13], 'S'};
        EXPECT_EQ(r.bytes, expected);
        EXPECT_TRUE(r.bytes[13] == 0x07 || r.bytes[13] == 0x08) << int(r.bytes[13]);
    }
    lines = sim.logLines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(logField(lines[10], "cmd"), "CX");

    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
    EXPECT_NE(sim.output().find("fin: COM1"), std::string::npos) << sim.output();
}

// Commands arrive at --baud, an unknown byte too; replies go out at 1200 baud
// after the latency.
TEST(SimulatorPty, LineSpeedsAndLatency) {
    Simulator sim("--baud 2400 --slow-line --latency 100");
    ASSERT_TRUE(sim.ready());
    for (int i = 0; i < 2; ++i) // the second write finds the line idle again
        ASSERT_NO_FATAL_FAILURE(expectLineTimes(sim, 2400, "S\x07zCW", {2, 3, 5}));
    Received r = query(sim.link());
    ASSERT_EQ(r.bytes.size(), 15u);
    // From before the request: the latency, then the 15 bytes at 1200 baud.
    EXPECT_GE(r.firstAfter, 100ms);
    EXPECT_GE(r.lastAfter, 100ms + 15 * 8333us);
}

TEST(SimulatorPty, Faults) {
    {
        Simulator sim("--garbage-reply --seed 7 --ignore-every 2");
        ASSERT_TRUE(sim.ready());
        Received r = query(sim.link());
        ASSERT_EQ(r.bytes.size(), 15u);
        EXPECT_FALSE(r.bytes[0] == 'C' && r.bytes[1] == 'X');
        EXPECT_EQ(std::count(r.bytes.begin(), r.bytes.end(), 'S'), 1);
        EXPECT_EQ(r.bytes[14], 'S');
        EXPECT_TRUE(query(sim.link(), 100ms).bytes.empty()) << "second command not ignored";
    }
    Simulator sim("--no-reply --vanish-after 3");
    ASSERT_TRUE(sim.ready());
    EXPECT_TRUE(query(sim.link(), 150ms).bytes.empty()); // through the link, so it was there
    EXPECT_EQ(sim.waitForExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
    EXPECT_NE(sim.output().find("desaparecido: COM1"), std::string::npos) << sim.output();
}

// Filler flows at the requested rate, or as fast as the line goes, and a reply
// still goes out whole once the line is free.
TEST(SimulatorPty, FloodSendsFillerAroundReplies) {
    for (auto [rate, perSecond] : {std::pair{"300", 300.0}, std::pair{"5000", 960.0}}) {
        Simulator sim(std::string("--flood ") + rate);
        ASSERT_TRUE(sim.ready());
        const auto abierto = Clock::now();
        int fd = openPort(sim.link());
        ASSERT_GE(fd, 0);
        const auto isFiller = [](unsigned char b) { return b == 0x00; };
        Received filler = readBytes(fd, SIZE_MAX, 300ms);
        // The rate bounds what can have come since the port opened; how it
        // spreads over the 300 ms depends on when each side was woken.
        const double segundos = std::chrono::duration<double>(Clock::now() - abierto).count();
        EXPECT_GT(filler.bytes.size(), 0u) << rate;
        EXPECT_LE(static_cast<double>(filler.bytes.size()), perSecond * (segundos + 0.05) + 2)
            << rate;
        EXPECT_TRUE(std::all_of(filler.bytes.begin(), filler.bytes.end(), isFiller));

        writeAll(fd, "CX");
        Received r = readBytes(fd, SIZE_MAX, 150ms);
        close(fd);
        const std::string start = "CXd";
        auto reply = std::search(r.bytes.begin(), r.bytes.end(), start.begin(), start.end());
        ASSERT_GE(r.bytes.end() - reply, 15) << rate;
        EXPECT_EQ(reply[14], 'S');
        EXPECT_TRUE(std::all_of(r.bytes.begin(), reply, isFiller));
        EXPECT_TRUE(std::all_of(reply + 15, r.bytes.end(), isFiller));
    }
}

TEST(SimulatorPty, OptionsAndExitStatus) {
    for (const char* options :
         {"--bogus", "--baud 9600x", "--latency 5ms", "--port -1", "--flood 0", "--flood 100001",
          "--dir /nonexistent/dir", "--no-reply --garbage-reply", "--offset"}) {
        Simulator sim(options);
        EXPECT_EQ(sim.waitForExit(), 2) << sim.output();
    }
    Simulator version("--version");
    EXPECT_EQ(version.waitForExit(), 0);
    EXPECT_EQ(version.output(), "simulador_reloj " QUARVEL_VERSION "\n");
}
