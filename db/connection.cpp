#include "db/connection.h"

namespace varnika {

Connection::Connection() = default;
Connection::~Connection() = default;

std::vector<std::pair<std::u16string, std::u16string>> parseConnectionString(std::u16string_view s)
{
    std::vector<std::pair<std::u16string, std::u16string>> out;
    size_t pos = 0;
    while (pos <= s.size()) {
        size_t end = s.find(u';', pos);
        if (end == std::u16string_view::npos) end = s.size();
        std::u16string_view part = s.substr(pos, end - pos);
        size_t eq = part.find(u'=');
        if (eq != std::u16string_view::npos) {
            auto trim = [](std::u16string_view v) {
                while (!v.empty() && v.front() == u' ') v.remove_prefix(1);
                while (!v.empty() && v.back() == u' ') v.remove_suffix(1);
                return std::u16string(v);
            };
            out.emplace_back(trim(part.substr(0, eq)), std::u16string(part.substr(eq + 1)));
        }
        pos = end + 1;
    }
    return out;
}

Status Connection::Open(std::u16string_view, std::u16string_view, std::u16string_view, int)
{
    return notSupported("the database engine is not built yet");
}

Result<std::unique_ptr<RecordSet>> Connection::OpenSchema(int, const std::vector<Variant>&)
{
    return Status(ErrorCode::Closed, "the connection is not open");
}

Status Connection::Execute(std::u16string_view, int)
{
    return Status(ErrorCode::Closed, "the connection is not open");
}

Status Connection::Close()
{
    m_database.reset();
    return Status::ok();
}

}  // namespace varnika
