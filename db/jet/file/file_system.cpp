#include "db/jet/file/file_system.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace varnika::jet {
namespace {

class PosixFileSystem final : public FileSystem {
public:
    Result<std::unique_ptr<PageFile>> open(const std::string& path, OpenMode mode) override
    {
        return openPosixFile(path, mode);
    }

    Result<std::unique_ptr<PageFile>> openOrCreate(const std::string& path) override
    {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return ioError("cannot create " + path + ": " + std::strerror(errno));
        ::close(fd);
        return openPosixFile(path, OpenMode::ReadWrite);
    }

    Result<std::unique_ptr<PageFile>> createNew(const std::string& path) override
    {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) return invalidArgument("the file " + path + " already exists");
            return ioError("cannot create " + path + ": " + std::strerror(errno));
        }
        ::close(fd);
        auto file = openPosixFile(path, OpenMode::ReadWrite);
        if (!file.isOk()) ::unlink(path.c_str());
        return file;
    }

    Status remove(const std::string& path) override
    {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return ioError("cannot remove " + path + ": " + std::strerror(errno));
        return Status::ok();
    }

    bool exists(const std::string& path) override
    {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    bool canWrite(const std::string& path) override { return ::access(path.c_str(), W_OK) == 0; }

    bool permitsWriting(const std::string& path) override
    {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return true;
        return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    }

    std::vector<std::string> list(const std::string& folder) override
    {
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) return names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
        return names;
    }

    bool isLockedByAnother(const std::string& path) override
    {
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        probe.l_start = 0;
        probe.l_len = 0;  // to the end of every possible offset
        const bool held = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
        ::close(fd);
        return held;
    }

    std::string bootId() override
    {
        std::ifstream in("/proc/sys/kernel/random/boot_id");
        std::string id;
        std::getline(in, id);
        return id;
    }
};

}  // namespace

std::shared_ptr<FileSystem> posixFileSystem() { return std::make_shared<PosixFileSystem>(); }

}  // namespace varnika::jet
