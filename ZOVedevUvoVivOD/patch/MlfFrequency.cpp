// The most-likely-pattern frequency of an organism record and its rounding to six decimals.
#include "modPatch.h"

#include <charconv>
#include <cmath>
#include <string>

using olbra::ErrorCode::Overflow;
using olbra::ErrorCode::TypeMismatch;
using olbra::Failure;
using olbra::Kind;
using olbra::Variant;

namespace modPatch {

namespace {

// Percentages held as 8- or 16-bit integers or single precision take the step for 50 and below
// in single precision, as the product computes it; 32-bit integers and doubles stay in doubles.
bool takesSinglePrecision(const Variant &percentage)
{
    switch (percentage.kind()) {
    case Kind::Byte:
    case Kind::Integer:
    case Kind::Single:
    case Kind::Boolean: return true;
    default: return false;
    }
}

// A percentage as a number. Text that wholly reads as a number counts as a double.
double percentageOf(const Variant &percentage)
{
    if (percentage.kind() == Kind::Text) {
        if (const auto number = olbra::parseNumber(percentage.toText()))
            return *number;
        throw Failure(TypeMismatch, QStringLiteral("Type mismatch: the percentage \"%1\" is not a number")
                                        .arg(percentage.toText().left(40)));
    }
    return percentage.toDouble();
}

} // namespace

double ComputeMlf(olbra::Recordset &recordset)
{
    double frequency = 1.0;
    for (std::int16_t position = 2; position <= 13; ++position) {
        // The field is fetched anew for the test and again for the step.
        if (percentageOf(recordset.Fields().Item(position).Value()) > 50) {
            const double percentage = percentageOf(recordset.Fields().Item(position).Value());
            frequency = (frequency * percentage) / 100;
        } else {
            const Variant value = recordset.Fields().Item(position).Value();
            if (takesSinglePrecision(value)) {
                const float quotient = static_cast<float>(percentageOf(value)) / 100.0f;
                const float factor = 1.0f - quotient;
                frequency = frequency * static_cast<double>(factor);
            } else {
                frequency = frequency * (1.0 - percentageOf(value) / 100.0);
            }
        }
    }
    return frequency;
}

QString FormatMlf(double value)
{
    if (!std::isfinite(value))
        throw Failure(Overflow, QStringLiteral("Overflow: the frequency is not a finite number"));

    // Fifteen significant digits first, locale-free: d.dddddddddddddde±x.
    char buffer[48];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, 14);
    const std::string scientific(buffer, written.ptr);
    const std::size_t e = scientific.find('e');
    const std::string digits = scientific.substr(0, 1) + scientific.substr(2, e - 2);
    const int exponent = std::stoi(scientific.substr(e + 1));

    // Lay the digits out around the decimal point.
    std::string whole, fraction;
    if (exponent >= 0) {
        const std::size_t wholeDigits = static_cast<std::size_t>(exponent) + 1;
        whole = digits.substr(0, std::min(wholeDigits, digits.size()));
        whole.append(wholeDigits > digits.size() ? wholeDigits - digits.size() : 0, '0');
        fraction = wholeDigits < digits.size() ? digits.substr(wholeDigits) : std::string();
    } else {
        whole = "0";
        fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    fraction.resize(std::max<std::size_t>(fraction.size(), 7), '0');

    // Cut after the sixth decimal; the first digit cut off raises the sixth when 5 or more.
    std::string kept = whole + fraction.substr(0, 6);
    if (fraction[6] >= '5') {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9')
            kept[--i] = '0';
        if (i == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[i - 1];
    }
    std::string integral = kept.substr(0, kept.size() - 6);
    std::string decimals = kept.substr(kept.size() - 6);
    integral.erase(0, std::min(integral.find_first_not_of('0'), integral.size() - 1));
    decimals.erase(decimals.find_last_not_of('0') + 1);

    std::string text = integral + (decimals.empty() ? std::string() : "." + decimals);
    if (value < 0 && text != "0")
        text.insert(text.begin(), '-');
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

double RoundMlf(double value)
{
    const std::string text = FormatMlf(value).toStdString();
    double rounded = 0;
    // The text was written without a locale; it is read back the same way.
    std::from_chars(text.data(), text.data() + text.size(), rounded);
    return rounded;
}

} // namespace modPatch
