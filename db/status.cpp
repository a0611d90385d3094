#include "db/status.h"

namespace varnika {

const char* errorCodeName(ErrorCode code)
{
    switch (code) {
    case ErrorCode::Ok: return "OK";
    case ErrorCode::Corruption: return "Corruption";
    case ErrorCode::NotSupported: return "Not supported";
    case ErrorCode::InvalidArgument: return "Invalid argument";
    case ErrorCode::IOError: return "I/O error";
    case ErrorCode::Locked: return "Locked";
    case ErrorCode::NotFound: return "Not found";
    case ErrorCode::ReadOnly: return "Read-only";
    case ErrorCode::Constraint: return "Constraint";
    case ErrorCode::TypeMismatch: return "Type mismatch";
    case ErrorCode::Closed: return "Closed";
    case ErrorCode::Full: return "Full";
    }
    return "Unknown";
}

const std::string& Status::message() const
{
    static const std::string none;
    return m_rep ? m_rep->message : none;
}

std::string Status::toString() const
{
    if (isOk()) return "OK";
    return std::string(errorCodeName(code())) + ": " + message();
}

}  // namespace varnika
