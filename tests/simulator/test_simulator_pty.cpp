// Runs the real simulador_reloj and talks to it through its COM link.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdexcept>
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

std::string simulatorPath;

// Returns the exit status, or -1 if the process did not end in time.
int waitExit(pid_t pid, std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

class Simulator {
public:
    explicit Simulator(std::vector<std::string> extra) {
        char tmpl[] = "/tmp/simreloj_XXXXXX";
        dir_ = mkdtemp(tmpl);
        std::vector<std::string> args = {simulatorPath, "--dir",   dir_,
                                         "--log",       logPath(), "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            std::vector<char*> argv;
            argv.reserve(args.size() + 1);
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
        ready_ = readUntil("listo: COM1 -> ", 5s);
    }

    ~Simulator() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(stdout_);
        fs::remove_all(dir_);
    }

    bool ready() const { return ready_; }
    std::string link() const { return dir_ + "/COM1"; }
    std::string logPath() const { return dir_ + "/log.jsonl"; }

    int terminate() {
        kill(pid_, SIGTERM);
        return waitForExit(5s);
    }
    int waitForExit(std::chrono::milliseconds limit) {
        int status = waitExit(pid_, limit);
        exited_ = status >= 0;
        return status;
    }

    std::vector<std::string> logLines() const {
        std::ifstream in(logPath());
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }

private:
    bool readUntil(const std::string& marker, std::chrono::milliseconds limit) {
        std::string seen;
        auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buf[256];
                ssize_t n = read(stdout_, buf, sizeof buf);
                if (n <= 0)
                    return false;
                seen.append(buf, static_cast<std::size_t>(n));
                if (seen.find(marker) != std::string::npos)
                    return true;
            }
        }
        return false;
    }

    std::string dir_;
    pid_t pid_ = -1;
    int stdout_ = -1;
    bool ready_ = false;
    bool exited_ = false;
};

int openPort(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fd;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
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

Received readBytes(int fd, std::size_t want, std::chrono::milliseconds limit) {
    Received r;
    auto start = Clock::now();
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
    writeAll(fd, "CX");
    Received r = readBytes(fd, 15, limit);
    close(fd);
    return r;
}

struct Finished {
    int status;
    std::string out;
};

// Runs the simulator to completion with stderr discarded.
Finished runSimulator(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0)
        return {-1, ""};
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDERR_FILENO);
        dup2(out[1], STDOUT_FILENO);
        std::vector<char*> argv{simulatorPath.data()};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    Finished r{-1, ""};
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        r.out.append(buf, static_cast<std::size_t>(n));
    close(out[0]);
    r.status = waitExit(pid, 5s);
    return r;
}

// A number or string field of one log line.
std::string logField(const std::string& line, const std::string& name) {
    std::size_t at = line.find("\"" + name + "\":");
    if (at == std::string::npos)
        return {};
    at += name.size() + 3;
    if (line[at] == '"')
        return line.substr(at + 1, line.find('"', at + 1) - at - 1);
    return line.substr(at, line.find_first_of(",}", at) - at);
}

long long nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

TEST(SimulatorPty, SetQueryLogAndTerminate) {
    Simulator sim({});
    ASSERT_TRUE(sim.ready());
    auto before = std::chrono::system_clock::now();

    int fd = openPort(sim.link());
    ASSERT_GE(fd, 0);
    writeAll(fd, std::string("D\x05M\x12Y\x26H\x14m\x05S\x07"
                             "CW"));
    close(fd);

    Received r = query(sim.link());
    ASSERT_EQ(r.bytes.size(), 15u);
    EXPECT_EQ(r.bytes[3], 0x05);
    EXPECT_EQ(r.bytes[5], 0x12);
    EXPECT_EQ(r.bytes[7], 0x26);
    EXPECT_EQ(r.bytes[9], 0x14);
    EXPECT_EQ(r.bytes[11], 0x05);
    EXPECT_TRUE(r.bytes[13] == 0x07 || r.bytes[13] == 0x08) << int(r.bytes[13]);
    EXPECT_EQ(r.bytes[14], 'S');

    auto lines = sim.logLines();
    ASSERT_EQ(lines.size(), 8u);
    const char* cmds[] = {"D", "M", "Y", "H", "m", "S", "CW", "CX"};
    const int values[] = {5, 12, 26, 14, 5, 7};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_NE(lines[i].find("\"cmd\":\"" + std::string(cmds[i]) + "\""), std::string::npos)
            << lines[i];
        if (i < 6) {
            EXPECT_NE(lines[i].find("\"value\":" + std::to_string(values[i]) + ","),
                      std::string::npos)
                << lines[i];
        }
    }
    EXPECT_NE(lines[6].find("\"device\":\"05/12/2026 14:05:07."), std::string::npos) << lines[6];

    // t_us is a PC time in microseconds since the epoch.
    long long tUs = std::stoll(lines[0].substr(lines[0].find("\"t_us\":") + 7));
    long long beforeUs =
        std::chrono::duration_cast<std::chrono::microseconds>(before.time_since_epoch()).count();
    EXPECT_GE(tUs, beforeUs);
    EXPECT_LT(tUs, beforeUs + 5'000'000);

    // Clients open and close the port for every exchange.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(query(sim.link()).bytes.size(), 15u) << "exchange " << i;

    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
}

TEST(SimulatorPty, ReplyWaitsLatencyAndIsPaced) {
    Simulator sim({"--latency", "100", "--slow-line"});
    ASSERT_TRUE(sim.ready());
    Received r = query(sim.link());
    ASSERT_EQ(r.bytes.size(), 15u);
    EXPECT_GE(r.firstAfter, 90ms);
    // 14 byte times of 10 bits at 1200 baud after the first byte.
    EXPECT_GE(r.lastAfter - r.firstAfter, 105ms);
}

TEST(SimulatorPty, ReplyToClosedPortIsLost) {
    Simulator sim({"--latency", "150"});
    ASSERT_TRUE(sim.ready());
    int fd = openPort(sim.link());
    ASSERT_GE(fd, 0);
    writeAll(fd, "CX");
    close(fd);
    std::this_thread::sleep_for(400ms);

    fd = openPort(sim.link());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(readBytes(fd, 1, 100ms).bytes.empty()) << "stale reply reached the next client";
    close(fd);
    EXPECT_EQ(query(sim.link()).bytes.size(), 15u);
}

TEST(SimulatorPty, Faults) {
    {
        Simulator sim({"--no-reply"});
        ASSERT_TRUE(sim.ready());
        EXPECT_TRUE(query(sim.link(), 300ms).bytes.empty());
    }
    {
        Simulator sim({"--garbage-reply", "--seed", "7"});
        ASSERT_TRUE(sim.ready());
        Received r = query(sim.link());
        ASSERT_EQ(r.bytes.size(), 15u);
        EXPECT_EQ(std::count(r.bytes.begin(), r.bytes.end(), 'S'), 1);
        EXPECT_EQ(r.bytes[14], 'S');
    }
    {
        Simulator sim({"--vanish-after", "0.3"});
        ASSERT_TRUE(sim.ready());
        EXPECT_TRUE(fs::exists(fs::symlink_status(sim.link())));
        EXPECT_EQ(sim.waitForExit(3s), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
    }
}

// Each byte takes 10 bit times to arrive: a command is logged when its last
// byte is in, and a line left idle starts again from the next write.
TEST(SimulatorPty, CommandsArriveAtLineSpeed) {
    struct Row {
        const char* baud;
        std::string input;
        std::vector<int> bytesPerCommand;
    };
    std::string burst;
    for (int i = 0; i < 30; ++i)
        burst += "S\x07";
    const Row rows[] = {{"9600", "S\x07", {2}},
                        {"9600", "S\x07zCW", {2, 1, 2}},
                        {"1200", "S\x07S\x08", {2, 2}},
                        {"9600", burst, std::vector<int>(30, 2)}};
    for (const Row& row : rows) {
        Simulator sim({"--baud", row.baud});
        ASSERT_TRUE(sim.ready());
        const double byteUs = 10e6 / std::stod(row.baud);
        const std::size_t n = row.bytesPerCommand.size();
        int fd = openPort(sim.link());
        ASSERT_GE(fd, 0);
        std::vector<long long> written;
        for (int w = 0; w < 2; ++w) {
            std::this_thread::sleep_for(150ms);
            written.push_back(nowMicros());
            writeAll(fd, row.input);
        }
        auto until = Clock::now() + 3s;
        while (sim.logLines().size() < 2 * n && Clock::now() < until)
            std::this_thread::sleep_for(10ms);
        close(fd);
        auto lines = sim.logLines();
        ASSERT_EQ(lines.size(), 2 * n) << row.input;
        for (std::size_t w = 0; w < 2; ++w) {
            long long first = std::stoll(logField(lines[w * n], "t_us"));
            double firstBytes = row.bytesPerCommand[0];
            EXPECT_GE(first - written[w], firstBytes * byteUs - 1) << row.baud << " write " << w;
            EXPECT_LT(first - written[w], firstBytes * byteUs + 100'000) << row.baud;
            double bytes = firstBytes;
            for (std::size_t i = 1; i < n; ++i) {
                bytes += row.bytesPerCommand[i];
                long long t = std::stoll(logField(lines[w * n + i], "t_us"));
                EXPECT_NEAR(static_cast<double>(t - first), (bytes - firstBytes) * byteUs, 1.0)
                    << row.baud << " command " << i;
            }
            for (std::size_t i = 0; i < n; ++i) {
                const std::string& line = lines[w * n + i];
                if (logField(line, "cmd") == "S") {
                    EXPECT_EQ(logField(line, "device").substr(17),
                              "0" + logField(line, "value") + ".000")
                        << line;
                }
            }
        }
    }
}

// Filler flows at the requested rate, or as fast as the line goes, and a reply
// still goes out whole once the line is free.
TEST(SimulatorPty, FloodSendsFillerAroundReplies) {
    struct Row {
        const char* rate;
        double perSecond;
    };
    for (Row row : {Row{"300", 300}, Row{"5000", 960}}) {
        Simulator sim({"--flood", row.rate});
        ASSERT_TRUE(sim.ready());
        int fd = openPort(sim.link());
        ASSERT_GE(fd, 0);
        const auto isFiller = [](unsigned char b) { return b == 0x00; };
        Received filler = readBytes(fd, SIZE_MAX, 500ms);
        EXPECT_NEAR(static_cast<double>(filler.bytes.size()), row.perSecond / 2, row.perSecond / 10)
            << row.rate;
        EXPECT_TRUE(std::all_of(filler.bytes.begin(), filler.bytes.end(), isFiller));

        writeAll(fd, "CX");
        Received r = readBytes(fd, SIZE_MAX, 300ms);
        close(fd);
        const std::string start = "CXd";
        auto reply = std::search(r.bytes.begin(), r.bytes.end(), start.begin(), start.end());
        ASSERT_GE(r.bytes.end() - reply, 15) << row.rate;
        EXPECT_EQ(reply[14], 'S');
        EXPECT_TRUE(std::all_of(r.bytes.begin(), reply, isFiller));
        EXPECT_TRUE(std::all_of(reply + 15, r.bytes.end(), isFiller));
    }
}

TEST(SimulatorPty, BadOptionsExitWithStatusTwo) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--bogus"},
                                          {"--baud", "abc"},
                                          {"--port", "-1"},
                                          {"--offset"},
                                          {"--flood", "0"},
                                          {"--flood", "100001"},
                                          {"--dir", "/nonexistent/dir"}})
        EXPECT_EQ(runSimulator(args).status, 2) << args[0];
}

TEST(SimulatorPty, VersionComesFromTheProject) {
    Finished r = runSimulator({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "simulador_reloj " QUARVEL_VERSION "\n");
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <path to simulador_reloj>\n", argv[0]);
        return 2;
    }
    simulatorPath = argv[1];
    return RUN_ALL_TESTS();
}
