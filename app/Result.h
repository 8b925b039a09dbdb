#pragma once
// The outcome of an operation of our own code: success, or a failure with a message.
// Context is added as an error travels up ("failed to write block @0x1000: ...").
#include <optional>
#include <string>
#include <utility>

class [[nodiscard]] Status {
public:
    static Status success() { return Status(); }
    static Status failure(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    // Empty for a success.
    const std::string& message() const
    {
        static const std::string none;
        return m_error ? *m_error : none;
    }
    // "context: message" for a failure; a success stays a success.
    Status context(const std::string& what) const
    {
        return ok() ? *this : failure(what + ": " + *m_error);
    }

private:
    Status() = default;
    explicit Status(std::string message) : m_error(std::move(message)) {}
    std::optional<std::string> m_error;
};

// A value or a failure message.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Status failure) : m_status(std::move(failure)) {}
    static Result failure(std::string message) { return Result(Status::failure(std::move(message))); }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return m_status.message(); }
    Status status() const { return m_status; }
    // Only valid when ok().
    T& value() { return *m_value; }
    const T& value() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    Result context(const std::string& what) const
    {
        return ok() ? *this : Result(m_status.context(what));
    }

private:
    std::optional<T> m_value;
    Status m_status = Status::success();
};
