// Model of the serial clock device: byte parser, BCD helpers and the device
// clock. No I/O here; callers pass the current PC time in.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::sim {

// Times are microseconds. "Wall" time is the PC clock as the device sees it
// (local time expressed as if it were UTC), so broken-down fields need no
// time-zone handling here.
using Micros = std::int64_t;

constexpr Micros kMicrosPerSecond = 1'000'000;

// Decodes packed BCD (tens in the high nibble). Empty if a nibble is > 9.
std::optional<int> decodeBcd(std::uint8_t byte);
// Encodes 0..99 as packed BCD.
std::uint8_t encodeBcd(int value);

enum class Field { Day, Month, Year, Hour, Minute, Second };

struct FieldRange {
    int min;
    int max;
};
FieldRange fieldRange(Field field);
// BCD decode plus the field's range check; empty when the byte must be ignored.
std::optional<int> decodeField(Field field, std::uint8_t byte);
// The command letter for a field: 'D','M','Y','H','m','S'.
char fieldLetter(Field field);
std::optional<Field> fieldFromLetter(std::uint8_t letter);

struct DateTime {
    int year = 2000; // full year
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int micros = 0;

    bool operator==(const DateTime&) const = default;
};

DateTime toDateTime(Micros wall);
// Empty if the date does not exist (e.g. 31/02).
std::optional<Micros> fromDateTime(const DateTime& dt);
// "dd/mm/yyyy hh:mm:ss.mmm"
std::string formatDateTime(const DateTime& dt);

// Device time = PC time + offset, plus drift accumulated since the last time
// the device was set. Setting a field moves the anchor to "now".
class DeviceClock {
public:
    DeviceClock(Micros pcNow, double offsetSeconds, double driftPpm);

    Micros deviceTime(Micros pcNow) const;
    DateTime now(Micros pcNow) const { return toDateTime(deviceTime(pcNow)); }
    // Offset device - PC at pcNow, including drift so far.
    Micros offset(Micros pcNow) const { return deviceTime(pcNow) - pcNow; }
    double driftPpm() const { return driftPpm_; }

    // Replaces one field of the current device time. Second also zeroes the
    // sub-second fraction. Returns false (nothing changed) if the resulting
    // date does not exist.
    bool setField(Field field, int value, Micros pcNow);
    // The clock jumps by `delta` (a knock), its drift going on.
    void shift(Micros delta) { anchorDevice_ += delta; }

private:
    Micros anchorPc_;
    Micros anchorDevice_;
    double driftPpm_;
};

enum class DisplayMode { DateTime, TimeOnly };
std::string_view modeName(DisplayMode mode); // "fecha_hora" / "hora"

// Reply to "CX": 15 bytes, "CXd<D>m<M>y<Y>h<H>n<m>s<S>S". Values sit at
// 1-based positions 4,6,8,10,12,14; the final byte is 'S'.
constexpr std::size_t kReplySize = 15;
std::array<std::uint8_t, kReplySize> buildReply(const DateTime& dt);

enum class Command {
    Day,
    Month,
    Year,
    Hour,
    Minute,
    Second,
    EndSetting,   // CW
    ShowTime,     // CH
    ShowDateTime, // CF
    Query,        // CX
    Error,
};
// "D","M","Y","H","m","S","CW","CH","CF","CX","error"
std::string_view commandName(Command command);

enum class ErrorKind {
    None,
    UnknownCommand,    // byte where a command letter was expected
    UnknownSecondByte, // "C" followed by an unknown byte
    InvalidValue,      // not packed BCD or out of range for the field
    NonexistentDate,   // valid value but the date would not exist
};

struct Event {
    Command command = Command::Error;
    ErrorKind error = ErrorKind::None;
    std::optional<Field> field;       // for value commands and value errors
    std::optional<int> value;         // decoded value
    std::optional<std::uint8_t> byte; // raw value byte, or the offending byte
    bool ignored = false;             // dropped by the ignore-every-k fault
    DateTime device;                  // device time after applying
    DisplayMode mode = DisplayMode::DateTime;
    std::vector<std::uint8_t> reply; // CX only, empty if ignored
};

std::string describeError(const Event& event);
// One JSON object (no trailing newline). tUs: PC time since the epoch when the
// command's last byte finished arriving.
std::string toJsonLine(const Event& event, Micros tUs);

class ClockDevice {
public:
    struct Settings {
        double offsetSeconds = 0;
        double driftPpm = 0;
        DisplayMode mode = DisplayMode::DateTime;
        int ignoreEvery = 0;    // 0: never; k: every k-th well-formed command
        Micros sampleDelay = 0; // a reply holds the time this long after "CX"
    };

    ClockDevice(const Settings& settings, Micros pcNow);

    // Parser state survives between calls, so a command may span reads.
    std::vector<Event> feed(std::span<const std::uint8_t> bytes, Micros pcNow);

    DateTime now(Micros pcNow) const { return clock_.now(pcNow); }
    const DeviceClock& clock() const { return clock_; }
    DisplayMode mode() const { return mode_; }
    void knock(Micros delta) { clock_.shift(delta); }

private:
    enum class State { Command, Value, SecondLetter };

    std::optional<Event> onCommandByte(std::uint8_t b);
    Event onValueByte(std::uint8_t b, Micros pcNow);
    Event onSecondLetter(std::uint8_t b);
    Event finish(Event event, Micros pcNow);
    bool takeIgnoreTurn();

    DeviceClock clock_;
    DisplayMode mode_;
    int ignoreEvery_;
    int wellFormedCount_ = 0;
    Micros sampleDelay_ = 0;
    State state_ = State::Command;
    Field pendingField_ = Field::Day;
};

} // namespace quarvel::sim
