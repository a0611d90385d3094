#pragma once
// A file system held in memory, for tests: files are byte vectors shared by
// everyone who opens them, and the test decides what the real system would
// (a file's permission bits, a folder that cannot be written, a lock that
// Access holds, whether the program runs as the superuser, the boot). The
// answers follow the POSIX file system's: the superuser may write a file
// that nobody may, and creating or removing a file needs its folder to be
// writable.

#include "db/jet/file/file_system.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace varnika::jet {

class MemoryFileSystem final : public FileSystem {
public:
    // Puts a file at `path` (its folder need not be writable), replacing
    // any there; it can be read and written by everyone (mode 0666).
    void addFile(const std::string& path, std::vector<uint8_t> bytes);
    // The file's bytes as they stand, or nothing when there is no file.
    std::optional<std::vector<uint8_t>> bytes(const std::string& path) const;

    // The file's permission bits, as chmod takes them: 0444 is read-only,
    // 0 neither readable nor writable (except by the superuser).
    void setMode(const std::string& path, unsigned mode);
    // A folder in which files cannot be made or removed (except by the
    // superuser).
    void setFolderWritable(const std::string& folder, bool writable);
    // Another program holds a byte-range lock on the file (as Access does
    // on its .ldb while the database is open).
    void setLockedByAnother(const std::string& path, bool locked);
    void setSuperuser(bool on) { m_superuser = on; }
    void setBootId(std::string id) { m_bootId = std::move(id); }

    Result<std::unique_ptr<PageFile>> open(const std::string& path, OpenMode mode) override;
    Result<std::unique_ptr<PageFile>> openOrCreate(const std::string& path) override;
    Result<std::unique_ptr<PageFile>> createNew(const std::string& path) override;
    Status remove(const std::string& path) override;
    bool exists(const std::string& path) override;
    bool canWrite(const std::string& path) override;
    bool permitsWriting(const std::string& path) override;
    std::vector<std::string> list(const std::string& folder) override;
    bool isLockedByAnother(const std::string& path) override;
    std::string bootId() override { return m_bootId; }

    // Private details follow.
    struct Node {
        std::vector<uint8_t> bytes;
        unsigned mode = 0666;
        bool lockedByAnother = false;
        bool writerOpen = false;  // the one-writer lock is held
    };

private:
    bool isFolder(const std::string& path) const;
    bool folderWritable(const std::string& path) const;
    Result<std::unique_ptr<PageFile>> openNode(const std::string& path, std::shared_ptr<Node> node, OpenMode mode);

    std::map<std::string, std::shared_ptr<Node>> m_files;
    std::set<std::string> m_readOnlyFolders;
    bool m_superuser = false;
    std::string m_bootId = "boot-1";
};

}  // namespace varnika::jet
