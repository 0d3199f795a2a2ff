#include "simulator/clock_device.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace quarvel::sim;

namespace {

const Micros kPcNow = *fromDateTime({2026, 1, 10, 12, 0, 0, 250'000});

std::vector<Event> feed(ClockDevice& dev, std::string_view text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return dev.feed(bytes, kPcNow);
}

// One word per event: command and value ("D5"), or "!" + error kind + field
// letter + byte in hex; "~" marks an ignored one.
std::string summary(const std::vector<Event>& events) {
    static const char* const kinds[] = {"", "cmd", "C", "value", "date"};
    std::string out;
    for (const Event& e : events) {
        std::string word(commandName(e.command));
        if (e.error != ErrorKind::None) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", e.byte.value_or(0));
            word = std::string("!") + kinds[static_cast<int>(e.error)] + "/" +
                   (e.field ? std::string(1, fieldLetter(*e.field)) : "") + hex;
        } else if (e.value) {
            word += std::to_string(*e.value);
        }
        out += (out.empty() ? "" : " ") + word + (e.ignored ? "~" : "");
    }
    return out;
}

} // namespace

TEST(Bcd, CodesAndFieldRanges) {
    for (int v = 0; v <= 99; ++v)
        EXPECT_EQ(decodeBcd(encodeBcd(v)), v);
    for (int bad : {0x5A, 0xA0, 0xFF})
        EXPECT_FALSE(decodeBcd(bad)) << bad;
    EXPECT_FALSE(decodeField(Field::Year, 0x1A)); // in range if read as 1*10+10
    const struct {
        Field field;
        int min, max;
    } ranges[] = {{Field::Day, 1, 31},  {Field::Month, 1, 12},  {Field::Year, 0, 99},
                  {Field::Hour, 0, 23}, {Field::Minute, 0, 59}, {Field::Second, 0, 59}};
    for (const auto& r : ranges) {
        EXPECT_EQ(decodeField(r.field, encodeBcd(r.min)), r.min);
        EXPECT_EQ(decodeField(r.field, encodeBcd(r.max)), r.max);
        EXPECT_TRUE(r.min == 0 || !decodeField(r.field, encodeBcd(r.min - 1))) << r.min;
        EXPECT_TRUE(r.max == 99 || !decodeField(r.field, encodeBcd(r.max + 1))) << r.max;
    }
}

TEST(Calendar, RoundTripAndNonexistentDates) {
    for (DateTime dt : {DateTime{2024, 2, 29, 23, 59, 59, 999'999}, DateTime{1969, 12, 31, 0, 0, 1},
                        DateTime{2099, 12, 31, 12, 30, 0, 5}})
        EXPECT_EQ(toDateTime(*fromDateTime(dt)), dt);
    EXPECT_FALSE(fromDateTime({2025, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(fromDateTime({2026, 4, 31, 0, 0, 0}));
    EXPECT_EQ(formatDateTime({2026, 12, 5, 14, 5, 7, 123'999}), "05/12/2026 14:05:07.123");
}

TEST(DeviceClock, OffsetDriftAndFieldSetting) {
    DeviceClock clock(kPcNow, -86400.5, 100);
    EXPECT_EQ(clock.now(kPcNow), (DateTime{2026, 1, 9, 11, 59, 59, 750'000}));
    // 100 ppm of 1000 s is 0.1 s.
    const Micros later = kPcNow + 1000 * kMicrosPerSecond;
    EXPECT_EQ(clock.now(later), (DateTime{2026, 1, 9, 12, 16, 39, 850'000}));
    // Setting a field re-anchors: the device runs on, drifting, from there.
    ASSERT_TRUE(clock.setField(Field::Hour, 14, later));
    EXPECT_EQ(clock.now(later), (DateTime{2026, 1, 9, 14, 16, 39, 850'000}));
    EXPECT_EQ(clock.now(later + 1000 * kMicrosPerSecond),
              (DateTime{2026, 1, 9, 14, 33, 19, 950'000}));
}

// Values sit at fixed positions, so a minute of 53 is sent as 0x53 ('S').
TEST(Reply, Layout) {
    const std::array<std::uint8_t, kReplySize> expected = {
        'C', 'X', 'd', 0x05, 'm', 0x12, 'y', 0x26, 'h', 0x14, 'n', 0x53, 's', 0x07, 'S'};
    EXPECT_EQ(buildReply({2026, 12, 5, 14, 53, 7}), expected);
}

TEST(Parser, CommandSequences) {
    struct Row {
        std::vector<std::string> reads; // one feed() each
        std::string events;
        DateTime after;
        DisplayMode mode = DisplayMode::DateTime;
        int ignoreEvery = 0;
    };
    const Row rows[] = {
        {{"CHD\x05M\x12Y\x27H\x14m\x05S\x07", "CWCFCX"},
         "CH D5 M12 Y27 H14 m5 S7 CW CF CX",
         {2027, 12, 5, 14, 5, 7, 0}},
        // A byte after a value letter is its value even if it is a letter;
        // a command may span reads.
        {{"mDSS", "M", "\x07", "C", "X", "CH"},
         "m44 S53 M7 CX CH",
         {2026, 7, 10, 12, 44, 53, 0},
         DisplayMode::TimeOnly},
        // Bad bytes are reported and skipped; "C" plus a value letter drops
        // both, so that letter's value is junk; 31 February does not exist.
        {{std::string(1, '\0'), "ZM\x13", "CZD\x31", "CD\x05", "M\x02"},
         "!cmd/00 !cmd/5A !value/M13 !C/5A D31 !C/44 !cmd/05 !date/M02",
         {2026, 1, 31, 12, 0, 0, 250'000}},
        // Every third well-formed command is dropped; errors do not count.
        {{"H\x01m\x02", "CXM\x13", "D\x03M\x04S\x09"},
         "H1 m2 CX~ !value/M13 D3 M4 S9~",
         {2026, 4, 3, 1, 2, 0, 250'000},
         {},
         3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.events);
        ClockDevice::Settings settings;
        settings.ignoreEvery = row.ignoreEvery;
        ClockDevice dev(settings, kPcNow);
        std::vector<Event> events;
        for (const std::string& read : row.reads) {
            auto more = feed(dev, read);
            events.insert(events.end(), more.begin(), more.end());
        }
        EXPECT_EQ(summary(events), row.events);
        EXPECT_EQ(dev.now(kPcNow), row.after);
        EXPECT_EQ(dev.mode(), row.mode);
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().device, row.after);
        EXPECT_EQ(events.back().mode, row.mode);
        for (const Event& e : events) {
            EXPECT_EQ(e.command == Command::Error, e.error != ErrorKind::None);
            if (e.value) {
                EXPECT_EQ(e.byte, encodeBcd(*e.value));
            }
            if (e.command == Command::Query) {
                auto full = buildReply(e.device);
                EXPECT_EQ(e.reply,
                          std::vector(full.begin(), e.ignored ? full.begin() : full.end()));
            }
        }
    }
}

TEST(Log, JsonLines) {
    ClockDevice dev({}, kPcNow);
    EXPECT_EQ(toJsonLine(feed(dev, "D\x05").at(0), 1'764'943'507'123'456),
              R"({"t_us":1764943507123456,"cmd":"D","value":5,"byte":5,)"
              R"("device":"05/01/2026 12:00:00.250","mode":"fecha_hora"})");
    std::string line = toJsonLine(feed(dev, "CZ").at(0), 1);
    EXPECT_NE(line.find(R"("cmd":"error","byte":90,"error":"segunda_letra_desconocida")"),
              std::string::npos);
    EXPECT_NE(line.find(R"(\"C\")"), std::string::npos) << "quotes must be escaped: " << line;

    EXPECT_NE(
        toJsonLine(feed(dev, "CX").at(0), 1).find(R"("reply":"43 58 64 05 6D 01 79 26 68 12)"),
        std::string::npos);
}
