#include "db/jet/file/memory_file_system.h"

#include <cstring>
#include <filesystem>

namespace varnika::jet {
namespace {

std::string folderOf(const std::string& path)
{
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

Status permissionDenied(const std::string& what, const std::string& path)
{
    return ioError(what + " " + path + ": Permission denied");
}

// A file opened from a MemoryFileSystem: reads and writes go to the bytes
// every opener shares; a writer gives back the one-writer lock when closed.
class MemoryFile final : public PageFile {
public:
    MemoryFile(std::shared_ptr<MemoryFileSystem::Node> node, std::string path, bool writable)
        : m_node(std::move(node)), m_path(std::move(path)), m_writable(writable)
    {
        if (m_writable) m_node->writerOpen = true;
    }
    ~MemoryFile() override
    {
        if (m_writable) m_node->writerOpen = false;
    }

    Status read(uint64_t offset, size_t length, uint8_t* out) override
    {
        const std::vector<uint8_t>& b = m_node->bytes;
        if (offset > b.size() || length > b.size() - offset)
            return corruption("the file ends before the data it should hold (read of " + std::to_string(length) +
                              " bytes at offset " + std::to_string(offset) + ", file size " + std::to_string(b.size()) + ")");
        if (length) std::memcpy(out, b.data() + offset, length);
        return Status::ok();
    }
    bool readsAhead() const override { return true; }
    Status write(uint64_t offset, const uint8_t* data, size_t length) override
    {
        if (!m_writable) return Status(ErrorCode::ReadOnly, "the file " + m_path + " is open for reading only");
        std::vector<uint8_t>& b = m_node->bytes;
        if (offset + length > b.size()) b.resize(offset + length);
        if (length) std::memcpy(b.data() + offset, data, length);
        return Status::ok();
    }
    Status sync() override { return Status::ok(); }
    Status truncate(uint64_t size) override
    {
        if (!m_writable) return Status(ErrorCode::ReadOnly, "the file " + m_path + " is open for reading only");
        m_node->bytes.resize(size);
        return Status::ok();
    }
    uint64_t size() const override { return m_node->bytes.size(); }
    bool isWritable() const override { return m_writable; }
    const std::string& path() const override { return m_path; }
    std::unique_ptr<PageFile> concurrentReader() override
    {
        return std::unique_ptr<PageFile>(new MemoryFile(m_node, m_path, false));
    }

private:
    std::shared_ptr<MemoryFileSystem::Node> m_node;
    std::string m_path;
    bool m_writable;
};

}  // namespace

void MemoryFileSystem::addFile(const std::string& path, std::vector<uint8_t> bytes)
{
    auto node = std::make_shared<Node>();
    node->bytes = std::move(bytes);
    m_files[path] = std::move(node);
}

std::optional<std::vector<uint8_t>> MemoryFileSystem::bytes(const std::string& path) const
{
    auto it = m_files.find(path);
    if (it == m_files.end()) return std::nullopt;
    return it->second->bytes;
}

void MemoryFileSystem::setMode(const std::string& path, unsigned mode)
{
    if (auto it = m_files.find(path); it != m_files.end()) it->second->mode = mode;
}

void MemoryFileSystem::setFolderWritable(const std::string& folder, bool writable)
{
    if (writable) m_readOnlyFolders.erase(folder);
    else m_readOnlyFolders.insert(folder);
}

void MemoryFileSystem::setLockedByAnother(const std::string& path, bool locked)
{
    if (auto it = m_files.find(path); it != m_files.end()) it->second->lockedByAnother = locked;
}

bool MemoryFileSystem::isFolder(const std::string& path) const
{
    if (m_readOnlyFolders.count(path)) return true;
    for (const auto& [name, node] : m_files)
        if (folderOf(name) == path) return true;
    return false;
}

bool MemoryFileSystem::folderWritable(const std::string& path) const
{
    return m_superuser || !m_readOnlyFolders.count(folderOf(path));
}

Result<std::unique_ptr<PageFile>> MemoryFileSystem::openNode(const std::string& path, std::shared_ptr<Node> node,
                                                              OpenMode mode)
{
    const bool write = mode == OpenMode::ReadWrite;
    if (!m_superuser && !(node->mode & 0444)) return permissionDenied("cannot open", path);
    if (write && !m_superuser && !(node->mode & 0222)) return permissionDenied("cannot open", path);
    if (write && node->writerOpen)
        return Status(ErrorCode::Locked, "the file " + path + " is being changed by another program");
    return std::unique_ptr<PageFile>(new MemoryFile(std::move(node), path, write));
}

Result<std::unique_ptr<PageFile>> MemoryFileSystem::open(const std::string& path, OpenMode mode)
{
    if (path.empty()) return invalidArgument("no database file was given");
    auto it = m_files.find(path);
    if (it == m_files.end()) {
        if (isFolder(path)) return ioError(path + " is a folder, not a database file");
        return notFound("the file " + path + " does not exist");
    }
    return openNode(path, it->second, mode);
}

Result<std::unique_ptr<PageFile>> MemoryFileSystem::openOrCreate(const std::string& path)
{
    auto it = m_files.find(path);
    if (it != m_files.end()) return openNode(path, it->second, OpenMode::ReadWrite);
    if (!folderWritable(path)) return permissionDenied("cannot create", path);
    auto node = std::make_shared<Node>();
    m_files[path] = node;
    return openNode(path, std::move(node), OpenMode::ReadWrite);
}

Result<std::unique_ptr<PageFile>> MemoryFileSystem::createNew(const std::string& path)
{
    if (m_files.count(path)) return invalidArgument("the file " + path + " already exists");
    return openOrCreate(path);
}

Status MemoryFileSystem::remove(const std::string& path)
{
    if (!m_files.count(path)) return Status::ok();
    if (!folderWritable(path)) return permissionDenied("cannot remove", path);
    m_files.erase(path);
    return Status::ok();
}

bool MemoryFileSystem::exists(const std::string& path) { return m_files.count(path) || isFolder(path); }

bool MemoryFileSystem::canWrite(const std::string& path)
{
    if (m_superuser) return exists(path);
    if (auto it = m_files.find(path); it != m_files.end()) return (it->second->mode & 0222) != 0;
    return isFolder(path) && !m_readOnlyFolders.count(path);
}

bool MemoryFileSystem::permitsWriting(const std::string& path)
{
    auto it = m_files.find(path);
    return it == m_files.end() || (it->second->mode & 0222) != 0;
}

std::vector<std::string> MemoryFileSystem::list(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& [path, node] : m_files)
        if (folderOf(path) == folder) names.push_back(std::filesystem::path(path).filename().string());
    return names;
}

bool MemoryFileSystem::isLockedByAnother(const std::string& path)
{
    auto it = m_files.find(path);
    return it != m_files.end() && it->second->lockedByAnother;
}

}  // namespace varnika::jet
