#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace olbra {

/// The program's one failure: a 32-bit number and a description, thrown as an exception.
class Failure : public std::exception {
public:
    Failure(std::int32_t number, QString description);

    std::int32_t number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    std::int32_t m_number;
    QString m_description;
    std::string m_what;
};

// The numbers the program raises, each with its meaning. Misuse of the database layer and of the
// program's own objects carries a small positive number; a refusal of the database engine carries a
// negative number of the HRESULT kind (severity bit and facility 4 above the engine's extended code).
namespace ErrorCode {
inline constexpr std::int32_t Overflow = 6;               // value does not fit the column or counter
inline constexpr std::int32_t OutOfMemory = 7;            // memory ran out
inline constexpr std::int32_t TypeMismatch = 13;          // value of a kind the target cannot take
inline constexpr std::int32_t InternalError = 51;         // a failure from outside the program's own code
inline constexpr std::int32_t FileNotFound = 53;          // program file to start not found
inline constexpr std::int32_t ObjectNotSet = 91;          // a reference that holds none was used
inline constexpr std::int32_t InvalidUseOfNull = 94;      // Null where a number or text is needed
inline constexpr std::int32_t InvalidPropertyValue = 380; // a control refused a value
inline constexpr std::int32_t NoCurrentRecord = 3021;     // BOF or EOF: no row to read or write
inline constexpr std::int32_t NotUpdatable = 3251;        // the recordset cannot be changed
inline constexpr std::int32_t ItemNotFound = 3265;        // no field of that name or position
inline constexpr std::int32_t ObjectClosed = 3704;        // the recordset or connection is closed
inline constexpr std::int32_t ProgramNotStarted = 75;     // the program file could not be run

inline constexpr std::int32_t EngineFacility = static_cast<std::int32_t>(0x80040000u);
/// The number of a refusal by the database engine, from its extended result code.
constexpr std::int32_t fromEngine(int extendedCode)
{
    return static_cast<std::int32_t>(0x80040000u | (static_cast<std::uint32_t>(extendedCode) & 0xFFFFu));
}
} // namespace ErrorCode

/// A reference to one object, or none. Using it while it holds none raises ObjectNotSet.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(std::unique_ptr<T> object) : m_object(std::move(object)) {}
    template <class U>
    Ref(std::unique_ptr<U> object) : m_object(std::move(object)) {}

    T *operator->() const { return &get(); }
    T &operator*() const { return get(); }
    T &get() const
    {
        if (!m_object)
            throw Failure(ErrorCode::ObjectNotSet, QStringLiteral("Object variable not set"));
        return *m_object;
    }
    bool isNone() const noexcept { return !m_object; }
    /// Releases the object; the reference holds none afterwards.
    void reset() noexcept { m_object.reset(); }

private:
    std::unique_ptr<T> m_object;
};

} // namespace olbra
