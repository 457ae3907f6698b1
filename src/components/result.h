#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace qmt {

// The reason an operation failed, in words a user can read.
struct Failure {
    QString description;
    // Whether the fault lies with the file. Not when this installation lacks what reading it
    // takes (a reader that is not installed): once that is mended, the same file reads.
    bool inFile = true;
};

// A value or the reason there is none. The engine and the codecs return these instead of
// throwing or showing anything; the windows decide what to tell the user.
template <class T>
class Result
{
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Failure failure) : m_state(std::move(failure)) {}

    static Result fail(const QString &description) { return Result(Failure{description}); }
    // A failure that lies with this installation, not with the file (see Failure::inFile).
    static Result failNotInFile(const QString &description)
    {
        return Result(Failure{description, false});
    }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    T &value() { return std::get<T>(m_state); }
    const T &value() const { return std::get<T>(m_state); }
    T &operator*() { return value(); }
    const T &operator*() const { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    QString error() const { return ok() ? QString() : std::get<Failure>(m_state).description; }
    // A failure worth remembering against the file, such as a thumbnail cache's failure record.
    bool failureInFile() const { return !ok() && std::get<Failure>(m_state).inFile; }

private:
    std::variant<T, Failure> m_state;
};

// Success or the reason for failure, for operations that produce nothing.
class Status
{
public:
    Status() = default;
    Status(Failure failure) : m_error(std::move(failure.description)) {}
    static Status fail(const QString &description) { return Status(Failure{description}); }

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    QString error() const { return m_error.value_or(QString()); }

private:
    std::optional<QString> m_error;
};

} // namespace qmt
