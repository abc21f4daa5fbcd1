#include "Variant.h"

#include "Failure.h"

#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <limits>

namespace olbra {

QString kindName(Kind kind)
{
    switch (kind) {
    case Kind::Empty: return QStringLiteral("Empty");
    case Kind::Null: return QStringLiteral("Null");
    case Kind::Byte: return QStringLiteral("Byte");
    case Kind::Integer: return QStringLiteral("Integer");
    case Kind::Long: return QStringLiteral("Long");
    case Kind::Single: return QStringLiteral("Single");
    case Kind::Double: return QStringLiteral("Double");
    case Kind::Date: return QStringLiteral("Date");
    case Kind::Text: return QStringLiteral("Text");
    case Kind::Boolean: return QStringLiteral("Boolean");
    }
    return QStringLiteral("Unknown");
}

Failure overflow(const QString &number, Kind kind)
{
    QString range;
    switch (kind) {
    case Kind::Byte: range = QStringLiteral("0 to 255"); break;
    case Kind::Integer: range = QStringLiteral("-32768 to 32767"); break;
    case Kind::Long: range = QStringLiteral("-2147483648 to 2147483647"); break;
    case Kind::Single: range = QStringLiteral("-%1 to %1").arg(numberText(std::numeric_limits<float>::max())); break;
    case Kind::Double: range = QStringLiteral("-%1 to %1").arg(numberText(std::numeric_limits<double>::max())); break;
    default: break;
    }
    return Failure(ErrorCode::Overflow, range.isEmpty() ? QStringLiteral("Overflow: %1 is out of the range of %2").arg(number, kindName(kind))
                                                        : QStringLiteral("Overflow: %1 is out of the range of %2 (%3)").arg(number, kindName(kind), range));
}

QString DateValue::toIso() const
{
    QString text = date.toString(Qt::ISODate);
    if (time)
        text += QLatin1Char(' ') + time->toString(QStringLiteral("HH:mm:ss"));
    return text;
}

Variant Variant::ofNull() { return {Kind::Null, std::monostate{}}; }
Variant Variant::ofByte(std::uint8_t value) { return {Kind::Byte, value}; }
Variant Variant::ofInteger(std::int16_t value) { return {Kind::Integer, value}; }
Variant Variant::ofLong(std::int32_t value) { return {Kind::Long, value}; }
Variant Variant::ofSingle(float value) { return {Kind::Single, value}; }
Variant Variant::ofDouble(double value) { return {Kind::Double, value}; }
Variant Variant::ofDate(QDate date, std::optional<QTime> time) { return ofDate(DateValue{date, time}); }
Variant Variant::ofText(QString value) { return {Kind::Text, std::move(value)}; }
Variant Variant::ofBoolean(bool value) { return {Kind::Boolean, value}; }

Variant Variant::ofDate(DateValue value)
{
    if (!value.date.isValid() || (value.time && !value.time->isValid()))
        throw Failure(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: not a valid date"));
    if (value.time)
        value.time = QTime(value.time->hour(), value.time->minute(), value.time->second());
    return {Kind::Date, std::move(value)};
}

bool Variant::isNumber() const
{
    switch (m_kind) {
    case Kind::Byte:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Single:
    case Kind::Double:
    case Kind::Boolean: return true;
    default: return false;
    }
}

void Variant::refuse(Kind wanted) const
{
    if (m_kind == Kind::Null)
        throw Failure(ErrorCode::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));
    throw Failure(ErrorCode::TypeMismatch,
                  QStringLiteral("Type mismatch: %1 where %2 is needed").arg(kindName(m_kind), kindName(wanted)));
}

namespace {

// Whole numbers of the integer kinds, Boolean as -1/0; nullopt for every other kind.
std::optional<std::int64_t> wholeNumber(const Variant &value, Kind kind, const auto &storage)
{
    switch (kind) {
    case Kind::Byte: return std::get<std::uint8_t>(storage);
    case Kind::Integer: return std::get<std::int16_t>(storage);
    case Kind::Long: return std::get<std::int32_t>(storage);
    case Kind::Boolean: return std::get<bool>(storage) ? -1 : 0;
    default: (void)value; return std::nullopt;
    }
}

template <class Int>
Int fitted(std::int64_t value, Kind wanted)
{
    if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max())
        throw overflow(QString::number(value), wanted);
    return static_cast<Int>(value);
}

} // namespace

std::uint8_t Variant::toByte() const
{
    if (auto whole = wholeNumber(*this, m_kind, m_storage))
        return fitted<std::uint8_t>(*whole, Kind::Byte);
    refuse(Kind::Byte);
}

std::int16_t Variant::toInteger() const
{
    if (auto whole = wholeNumber(*this, m_kind, m_storage))
        return fitted<std::int16_t>(*whole, Kind::Integer);
    refuse(Kind::Integer);
}

std::int32_t Variant::toLong() const
{
    if (auto whole = wholeNumber(*this, m_kind, m_storage))
        return fitted<std::int32_t>(*whole, Kind::Long);
    refuse(Kind::Long);
}

float Variant::toSingle() const
{
    if (m_kind == Kind::Single)
        return std::get<float>(m_storage);
    if (auto whole = wholeNumber(*this, m_kind, m_storage))
        return static_cast<float>(*whole);
    refuse(Kind::Single);
}

double Variant::toDouble() const
{
    if (m_kind == Kind::Double)
        return std::get<double>(m_storage);
    if (m_kind == Kind::Single)
        return std::get<float>(m_storage);
    if (auto whole = wholeNumber(*this, m_kind, m_storage))
        return static_cast<double>(*whole);
    refuse(Kind::Double);
}

DateValue Variant::toDate() const
{
    if (m_kind == Kind::Date)
        return std::get<DateValue>(m_storage);
    refuse(Kind::Date);
}

QString Variant::toText() const
{
    if (m_kind == Kind::Text)
        return std::get<QString>(m_storage);
    refuse(Kind::Text);
}

std::int16_t Variant::toBoolean() const
{
    if (m_kind == Kind::Boolean)
        return std::get<bool>(m_storage) ? -1 : 0;
    refuse(Kind::Boolean);
}

std::optional<DateValue> parseDate(const QString &text)
{
    static const QRegularExpression iso(QStringLiteral(
        R"(^\s*(\d{4})-(\d{1,2})-(\d{1,2})(?:[ T](\d{1,2}):(\d{2})(?::(\d{2}))?)?\s*$)"));
    static const QRegularExpression us(QStringLiteral(
        R"(^\s*(\d{1,2})/(\d{1,2})/(\d{4})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?\s*([AaPp][Mm])?)?\s*$)"));

    int year = 0, month = 0, day = 0;
    QRegularExpressionMatch match = iso.match(text);
    if (match.hasMatch()) {
        year = match.captured(1).toInt();
        month = match.captured(2).toInt();
        day = match.captured(3).toInt();
    } else {
        match = us.match(text);
        if (!match.hasMatch())
            return std::nullopt;
        month = match.captured(1).toInt();
        day = match.captured(2).toInt();
        year = match.captured(3).toInt();
    }
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    if (match.captured(4).isEmpty())
        return DateValue{date, std::nullopt};

    int hour = match.captured(4).toInt();
    const QString meridiem = match.lastCapturedIndex() >= 7 ? match.captured(7).toUpper() : QString();
    if (!meridiem.isEmpty()) {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (meridiem == QLatin1String("PM") ? 12 : 0);
    }
    const QTime time(hour, match.captured(5).toInt(), match.captured(6).toInt());
    if (!time.isValid())
        return std::nullopt;
    return DateValue{date, time};
}

std::optional<double> parseNumber(const QString &text)
{
    const std::string bytes = text.trimmed().toStdString();
    const char *first = bytes.data();
    const char *last = first + bytes.size();
    // from_chars takes a minus but no plus: a plus is stepped over, and may not come before a minus.
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-')
            return std::nullopt;
    }
    if (first == last || !(std::isdigit(static_cast<unsigned char>(*first)) || *first == '-' || *first == '.'))
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error != std::errc() || end != last || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString numberText(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

QString numberText(float value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace olbra
