#include "simulator/clock_device.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace quarvel::sim;

namespace {

Micros at(int y, int mo, int d, int h, int mi, int s, int us = 0) {
    return *fromDateTime({y, mo, d, h, mi, s, us});
}

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<Event> feed(ClockDevice& dev, std::string_view text, Micros now) {
    auto b = bytes(text);
    return dev.feed(b, now);
}

const Micros kPcNow = at(2026, 1, 10, 12, 0, 0, 250'000);

} // namespace

TEST(Bcd, DecodeRejectsNibblesAboveNine) {
    EXPECT_EQ(decodeBcd(0x00), 0);
    EXPECT_EQ(decodeBcd(0x59), 59);
    EXPECT_EQ(decodeBcd(0x99), 99);
    EXPECT_FALSE(decodeBcd(0x5A));
    EXPECT_FALSE(decodeBcd(0xA0));
    EXPECT_FALSE(decodeBcd(0xFF));
    for (int v = 0; v <= 99; ++v)
        EXPECT_EQ(decodeBcd(encodeBcd(v)), v);
}

TEST(Bcd, FieldRangeBoundaries) {
    EXPECT_EQ(decodeField(Field::Minute, 0x59), 59);
    EXPECT_FALSE(decodeField(Field::Minute, 0x5A));
    EXPECT_FALSE(decodeField(Field::Minute, 0x60));
    EXPECT_FALSE(decodeField(Field::Second, 0x60));
    EXPECT_FALSE(decodeField(Field::Month, 0x00));
    EXPECT_EQ(decodeField(Field::Month, 0x12), 12);
    EXPECT_FALSE(decodeField(Field::Month, 0x13));
    EXPECT_FALSE(decodeField(Field::Day, 0x00));
    EXPECT_EQ(decodeField(Field::Day, 0x31), 31);
    EXPECT_FALSE(decodeField(Field::Day, 0x32));
    EXPECT_EQ(decodeField(Field::Hour, 0x23), 23);
    EXPECT_FALSE(decodeField(Field::Hour, 0x24));
    EXPECT_EQ(decodeField(Field::Year, 0x00), 0);
    EXPECT_EQ(decodeField(Field::Year, 0x99), 99);
}

TEST(Calendar, RoundTripAndNonexistentDates) {
    for (DateTime dt : {DateTime{2024, 2, 29, 23, 59, 59, 999'999}, DateTime{1969, 12, 31, 0, 0, 1},
                        DateTime{2099, 12, 31, 12, 30, 0, 5}})
        EXPECT_EQ(toDateTime(*fromDateTime(dt)), dt);
    EXPECT_FALSE(fromDateTime({2025, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(fromDateTime({2026, 4, 31, 0, 0, 0}));
    EXPECT_EQ(formatDateTime({2026, 12, 5, 14, 5, 7, 123'456}), "05/12/2026 14:05:07.123");
}

TEST(DeviceClock, OffsetDriftAndFieldSetting) {
    DeviceClock offsetOnly(kPcNow, -86400.5, 0);
    EXPECT_EQ(offsetOnly.now(kPcNow), (DateTime{2026, 1, 9, 11, 59, 59, 750'000}));

    DeviceClock drifting(kPcNow, 0, 100);
    EXPECT_EQ(drifting.deviceTime(kPcNow + 1000 * kMicrosPerSecond),
              kPcNow + 1000 * kMicrosPerSecond + 100'000);

    DeviceClock clock(kPcNow, 0, 0);
    ASSERT_TRUE(clock.setField(Field::Hour, 14, kPcNow));
    EXPECT_EQ(clock.now(kPcNow), (DateTime{2026, 1, 10, 14, 0, 0, 250'000}));
    // The new offset holds: the device keeps running with the PC.
    EXPECT_EQ(clock.now(kPcNow + 90 * kMicrosPerSecond),
              (DateTime{2026, 1, 10, 14, 1, 30, 250'000}));

    ASSERT_TRUE(clock.setField(Field::Second, 7, kPcNow + 400'000));
    EXPECT_EQ(clock.now(kPcNow + 400'000), (DateTime{2026, 1, 10, 14, 0, 7, 0}));
    EXPECT_EQ(clock.now(kPcNow + 1'400'000).second, 8);
}

TEST(Reply, LayoutAndSingleTerminator) {
    auto r = buildReply({2026, 12, 5, 14, 5, 7});
    // 1-based positions 4..14 step 2 hold the values; 15 is 'S'.
    EXPECT_EQ(r[3], 0x05);
    EXPECT_EQ(r[5], 0x12);
    EXPECT_EQ(r[7], 0x26);
    EXPECT_EQ(r[9], 0x14);
    EXPECT_EQ(r[11], 0x05);
    EXPECT_EQ(r[13], 0x07);
    EXPECT_EQ(r[14], 'S');
    EXPECT_EQ(std::count(r.begin(), r.end(), 'S'), 1);

    // Minute 53 encodes as 0x53, the terminator byte itself.
    auto m53 = buildReply({2026, 12, 5, 14, 53, 7});
    EXPECT_EQ(m53[11], 'S');
    EXPECT_EQ(std::count(m53.begin(), m53.end(), 'S'), 2);
}

TEST(Parser, FullSettingThenQuery) {
    ClockDevice dev({}, kPcNow);
    auto events = feed(dev,
                       std::string("D\x05M\x12Y\x26H\x14m\x05S\x07"
                                   "CW") +
                           "CX",
                       kPcNow);
    std::vector<std::string> names;
    names.reserve(events.size());
    for (const auto& e : events)
        names.emplace_back(commandName(e.command));
    EXPECT_EQ(names, (std::vector<std::string>{"D", "M", "Y", "H", "m", "S", "CW", "CX"}));
    EXPECT_EQ(events[2].value, 26);
    EXPECT_EQ(events[2].byte, 0x26);
    EXPECT_EQ(events[6].device, (DateTime{2026, 12, 5, 14, 5, 7, 0}));
    auto expected = buildReply({2026, 12, 5, 14, 5, 7});
    EXPECT_EQ(events[7].reply, std::vector<std::uint8_t>(expected.begin(), expected.end()));
}

TEST(Parser, ValueByteEqualToLetterIsValue) {
    ClockDevice dev({}, kPcNow);
    auto events = feed(dev, "mDSS", kPcNow); // minute 0x44, second 0x53
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].command, Command::Minute);
    EXPECT_EQ(events[0].value, 44);
    EXPECT_EQ(events[1].command, Command::Second);
    EXPECT_EQ(events[1].value, 53);
    EXPECT_EQ(dev.now(kPcNow).minute, 44);
    // Nothing left pending: the next byte is a command again.
    EXPECT_EQ(feed(dev, "CH", kPcNow).at(0).command, Command::ShowTime);
}

TEST(Parser, CommandSplitAcrossReads) {
    ClockDevice dev({}, kPcNow);
    EXPECT_TRUE(feed(dev, "M", kPcNow).empty());
    auto events = feed(dev, "\x07", kPcNow + 5000);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].command, Command::Month);
    EXPECT_EQ(dev.now(kPcNow).month, 7);

    EXPECT_TRUE(feed(dev, "C", kPcNow).empty());
    events = feed(dev, "X", kPcNow);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].reply.size(), kReplySize);
}

TEST(Parser, BadInputIsReportedAndSkipped) {
    ClockDevice dev({}, kPcNow);
    DateTime before = dev.now(kPcNow);

    auto events = feed(dev, std::string("\x00Z", 2) + "M\x13" + "CZ" + "D\x05", kPcNow);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].error, ErrorKind::UnknownCommand);
    EXPECT_EQ(events[0].byte, 0x00);
    EXPECT_EQ(events[1].error, ErrorKind::UnknownCommand);
    EXPECT_EQ(events[2].error, ErrorKind::InvalidValue);
    EXPECT_EQ(events[2].field, Field::Month);
    EXPECT_EQ(events[2].device.month, before.month);
    EXPECT_EQ(events[3].error, ErrorKind::UnknownSecondByte);
    EXPECT_EQ(events[3].byte, 'Z');
    EXPECT_EQ(events[4].command, Command::Day);
    EXPECT_EQ(dev.now(kPcNow).day, 5);

    // "C" + a value letter drops both; the following value byte is then junk.
    events = feed(dev, "CD\x05", kPcNow);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].error, ErrorKind::UnknownSecondByte);
    EXPECT_EQ(events[1].error, ErrorKind::UnknownCommand);

    ClockDevice endOfJanuary({}, at(2026, 1, 31, 8, 0, 0));
    events = feed(endOfJanuary, "M\x02", at(2026, 1, 31, 8, 0, 0));
    EXPECT_EQ(events.at(0).command, Command::Error);
    EXPECT_EQ(events.at(0).error, ErrorKind::NonexistentDate);
    EXPECT_EQ(events.at(0).device.month, 1);
}

TEST(Parser, DisplayModeCommands) {
    ClockDevice dev({}, kPcNow);
    EXPECT_EQ(feed(dev, "CH", kPcNow).at(0).mode, DisplayMode::TimeOnly);
    EXPECT_EQ(dev.mode(), DisplayMode::TimeOnly);
    feed(dev, "CF", kPcNow);
    EXPECT_EQ(dev.mode(), DisplayMode::DateTime);
}

TEST(Parser, IgnoreEveryKthWellFormedCommand) {
    ClockDevice::Settings s;
    s.ignoreEvery = 3;
    ClockDevice dev(s, kPcNow);
    // Commands: H(1) m(2) CX(3, ignored) [error not counted] D(4) M(5) S(6, ignored)
    auto events = feed(dev, std::string("H\x01m\x02") + "CX" + "M\x13" + "D\x03M\x04S\x09", kPcNow);
    ASSERT_EQ(events.size(), 7u);
    EXPECT_TRUE(events[2].ignored);
    EXPECT_TRUE(events[2].reply.empty());
    EXPECT_FALSE(events[3].ignored);
    EXPECT_TRUE(events[6].ignored);
    DateTime dt = dev.now(kPcNow);
    EXPECT_EQ(dt.hour, 1);
    EXPECT_EQ(dt.day, 3);
    EXPECT_EQ(dt.second, 0); // the ignored S did not apply
}

TEST(Log, JsonLines) {
    Event e;
    e.command = Command::Day;
    e.value = 5;
    e.byte = 0x05;
    e.device = {2026, 12, 5, 14, 5, 7, 123'000};
    EXPECT_EQ(toJsonLine(e, 1'764'943'507'123'456),
              R"({"t_us":1764943507123456,"cmd":"D","value":5,"byte":5,)"
              R"("device":"05/12/2026 14:05:07.123","mode":"fecha_hora"})");

    ClockDevice dev({}, kPcNow);
    auto err = feed(dev, "CZ", kPcNow).at(0);
    std::string line = toJsonLine(err, 1);
    EXPECT_NE(line.find(R"("cmd":"error","byte":90,"error":"segunda_letra_desconocida")"),
              std::string::npos);
    EXPECT_NE(line.find(R"(\"C\")"), std::string::npos) << "quotes must be escaped: " << line;

    auto query = feed(dev, "CX", kPcNow).at(0);
    EXPECT_NE(toJsonLine(query, 1).find(R"("reply":"43 58 64 10 6D 01 79 26 68 12)"),
              std::string::npos);
}
