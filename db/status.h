#pragma once
// Errors are values: every engine call that can fail returns a Status or a
// Result<T>. A Status carries a code (what kind of failure) and a message a
// user can read (what went wrong, in plain words).

#include <cassert>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace varnika {

enum class ErrorCode {
    Ok = 0,
    Corruption,       // the file is damaged: bytes that a sound file never holds
    NotSupported,     // a sound file that uses something the engine does not handle
    InvalidArgument,  // the caller asked for something malformed or impossible
    IOError,          // the operating system refused a read, a write or an open
    Locked,           // another program holds the file
    NotFound,         // no such file, table, column or record
    ReadOnly,         // the file was opened for reading only
    Constraint,       // the change would break a rule of the table (unique index, required field)
    TypeMismatch,     // a value cannot be converted to the type needed
    Closed,           // the object is closed or not positioned on a record
    Full,             // the file would grow past the largest size its format allows
};

const char* errorCodeName(ErrorCode code);

class [[nodiscard]] Status {
public:
    Status() = default;
    Status(ErrorCode code, std::string message)
    {
        if (code != ErrorCode::Ok || !message.empty()) m_rep = std::make_unique<Rep>(Rep{code, std::move(message)});
    }
    Status(const Status& other) : m_rep(other.m_rep ? std::make_unique<Rep>(*other.m_rep) : nullptr) {}
    Status(Status&&) noexcept = default;
    Status& operator=(const Status& other)
    {
        if (this != &other) m_rep = other.m_rep ? std::make_unique<Rep>(*other.m_rep) : nullptr;
        return *this;
    }
    Status& operator=(Status&&) noexcept = default;

    static Status ok() { return Status(); }

    bool isOk() const { return code() == ErrorCode::Ok; }
    explicit operator bool() const { return isOk(); }
    ErrorCode code() const { return m_rep ? m_rep->code : ErrorCode::Ok; }
    const std::string& message() const;
    // "Corruption: the page map points past the end of the file"
    std::string toString() const;

private:
    // Success, by far the most common, is no more than a null pointer:
    // made, moved and dropped at no cost.
    struct Rep {
        ErrorCode code;
        std::string message;
    };
    std::unique_ptr<Rep> m_rep;
};

inline Status corruption(std::string m) { return Status(ErrorCode::Corruption, std::move(m)); }
inline Status notSupported(std::string m) { return Status(ErrorCode::NotSupported, std::move(m)); }
inline Status invalidArgument(std::string m) { return Status(ErrorCode::InvalidArgument, std::move(m)); }
inline Status ioError(std::string m) { return Status(ErrorCode::IOError, std::move(m)); }
inline Status notFound(std::string m) { return Status(ErrorCode::NotFound, std::move(m)); }

// A value or the Status that explains why there is none.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    // `status` is an error: a Result that is OK holds a value.
    Result(Status status) : m_status(std::move(status))
    {
        assert(!m_status.isOk() && "a Result without a value needs an error");
    }

    bool isOk() const { return m_status.isOk(); }
    explicit operator bool() const { return isOk(); }
    const Status& status() const { return m_status; }

    T& value() & { return *m_value; }
    const T& value() const& { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }

private:
    std::optional<T> m_value;
    Status m_status;
};

}  // namespace varnika

#define VK_CONCAT_INNER(a, b) a##b
#define VK_CONCAT(a, b) VK_CONCAT_INNER(a, b)

// Returns the Status of `expr` from the enclosing function when it failed.
#define VK_RETURN_IF_ERROR(expr)                         \
    do {                                                 \
        ::varnika::Status vk_status_ = (expr);           \
        if (!vk_status_.isOk()) return vk_status_;       \
    } while (0)

// `lhs = value of expr`, or return its Status from the enclosing function.
#define VK_ASSIGN_OR_RETURN(lhs, expr) \
    VK_ASSIGN_OR_RETURN_IMPL(VK_CONCAT(vk_result_, __LINE__), lhs, expr)
#define VK_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
    auto tmp = (expr);                           \
    if (!tmp.isOk()) return tmp.status();        \
    lhs = std::move(tmp).value()
