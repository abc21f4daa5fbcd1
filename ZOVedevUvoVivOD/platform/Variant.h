#pragma once

#include <QDate>
#include <QString>
#include <QTime>

#include <cstdint>
#include <optional>
#include <variant>

namespace olbra {

class Failure;

/// The kinds of value the program meets in the product database.
enum class Kind { Empty, Null, Byte, Integer, Long, Single, Double, Date, Text, Boolean };

QString kindName(Kind kind);

/// "Overflow: 40000 is out of the range of Integer (-32768 to 32767)"; number is the value as text.
Failure overflow(const QString &number, Kind kind);

/// A calendar date with an optional time of day.
struct DateValue {
    QDate date;
    std::optional<QTime> time;

    bool operator==(const DateValue &) const = default;
    /// "2008-01-18", with " HH:MM:SS" only when there is a time of day.
    QString toIso() const;
};

/// A value whose kind its writer fixes. Reading it as another kind converts only where no
/// information is lost in meaning (any number as a double); anything else throws.
class Variant {
public:
    Variant() = default; // Empty

    static Variant ofNull();
    static Variant ofByte(std::uint8_t value);
    static Variant ofInteger(std::int16_t value);
    static Variant ofLong(std::int32_t value);
    static Variant ofSingle(float value);
    static Variant ofDouble(double value);
    static Variant ofDate(QDate date, std::optional<QTime> time = std::nullopt);
    static Variant ofDate(DateValue value);
    static Variant ofText(QString value);
    static Variant ofBoolean(bool value);

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::Null; }
    bool isEmpty() const { return m_kind == Kind::Empty; }
    bool isNumber() const;

    std::uint8_t toByte() const;
    std::int16_t toInteger() const;
    std::int32_t toLong() const;
    float toSingle() const;
    /// Any number, a Boolean as -1 or 0.
    double toDouble() const;
    DateValue toDate() const;
    QString toText() const;
    /// -1 (true) or 0 (false).
    std::int16_t toBoolean() const;

    bool operator==(const Variant &) const = default;

private:
    using Storage = std::variant<std::monostate, std::uint8_t, std::int16_t, std::int32_t, float, double,
                                 DateValue, QString, bool>;
    // Built in place: a whole Storage moved in makes GCC 12 under the sanitizers warn of an
    // uninitialised alternative.
    template <class Alternative>
    Variant(Kind kind, Alternative value) : m_kind(kind), m_storage(std::in_place_type<Alternative>, std::move(value))
    {
    }
    [[noreturn]] void refuse(Kind wanted) const;

    Kind m_kind = Kind::Empty;
    Storage m_storage;
};

/// Parses "2008-01-18", "2008-01-18 13:45[:07]" or "1/18/2008" with an optional time; nullopt when
/// the text is not a date or names an impossible one.
std::optional<DateValue> parseDate(const QString &text);

/// Parses a number the way the database reads one: optional blanks, sign, digits, decimal point
/// and exponent, in the C locale. nullopt when the text is not wholly a finite number.
std::optional<double> parseNumber(const QString &text);

/// The shortest text that reads back as the same number, in the C locale.
QString numberText(double value);
QString numberText(float value);

} // namespace olbra
