#include "db/jet/file/page_file.h"

#include "db/jet/file/background_sync.h"
#include "db/jet/file/write_back.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace varnika::jet {
namespace {

class PosixPageFile : public PageFile {
public:
    // `ownsFd`: the descriptor is closed with this object (not by a
    // concurrent reader, which borrows its file's).
    PosixPageFile(int fd, std::string path, bool writable, uint64_t size, bool ownsFd = true)
        : m_fd(fd), m_path(std::move(path)), m_writable(writable), m_size(size), m_ownsFd(ownsFd) {}
    ~PosixPageFile() override
    {
        // Their threads use the descriptor.
        m_writeBack.reset();
        m_backgroundSync.reset();
        if (m_ownsFd) ::close(m_fd);
    }

    Status read(uint64_t offset, size_t length, uint8_t* out) override
    {
        iovec into{out, length};
        return readInto(offset, length, &into, 1);
    }

    // One preadv() for up to kMostVectors pages.
    Status readPages(uint64_t offset, size_t pageSize, std::span<uint8_t* const> pages) override
    {
        if (pages.size() > kMostVectors) return PageFile::readPages(offset, pageSize, pages);
        std::array<iovec, kMostVectors> vectors;
        for (size_t i = 0; i < pages.size(); ++i) vectors[i] = iovec{pages[i], pageSize};
        return readInto(offset, pages.size() * pageSize, vectors.data(), pages.size());
    }
    bool readsAhead() const override { return true; }

    Status write(uint64_t offset, const uint8_t* data, size_t length) override
    {
        if (!m_writable) return Status(ErrorCode::ReadOnly, "the file " + m_path + " is open for reading only");
        noteWrite();
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::pwrite(m_fd, data + done, length - done, off_t(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return ioError("cannot write " + m_path + ": " + std::strerror(errno));
            }
            done += size_t(n);
        }
        if (offset + length > m_size) m_size = offset + length;
        return Status::ok();
    }

    // One pwritev() for every kMostVectors pages.
    Status writePages(uint64_t offset, size_t pageSize, std::span<const uint8_t* const> pages) override
    {
        if (!m_writable) return Status(ErrorCode::ReadOnly, "the file " + m_path + " is open for reading only");
        noteWrite();
        for (size_t from = 0; from < pages.size(); from += kMostVectors)
            VK_RETURN_IF_ERROR(writeRun(offset + from * pageSize, pageSize,
                                        pages.subspan(from, std::min(kMostVectors, pages.size() - from))));
        return Status::ok();
    }

    void startWriteBack(uint64_t length) override
    {
        if (!m_writable || length == 0) return;
        if (!m_writeBack) {
            if (!BackgroundWriteBack::threadsRunAlready()) return;  // the sync does it all
            m_writeBack = std::make_unique<BackgroundWriteBack>(m_fd);
        }
        m_writeBack->request(length);
    }
    void startSync() override
    {
        if (!m_writable) return;
        if (!m_backgroundSync) {
            if (!BackgroundWriteBack::threadsRunAlready()) return;  // the sync does it all
            m_backgroundSync = std::make_unique<BackgroundSync>([fd = m_fd] { return ::fsync(fd) == 0 ? 0 : errno; });
        }
        m_backgroundSync->start();
    }
    Status sync() override
    {
        if (!m_writable) return Status::ok();
        const int failed = m_backgroundSync ? m_backgroundSync->sync() : (::fsync(m_fd) == 0 ? 0 : errno);
        if (failed != 0) return ioError("cannot flush " + m_path + ": " + std::strerror(failed));
        return Status::ok();
    }

    Status truncate(uint64_t size) override
    {
        if (!m_writable) return Status(ErrorCode::ReadOnly, "the file " + m_path + " is open for reading only");
        noteWrite();
        if (::ftruncate(m_fd, off_t(size)) != 0) return ioError("cannot resize " + m_path + ": " + std::strerror(errno));
        m_size = size;
        return Status::ok();
    }

    uint64_t size() const override { return m_size; }
    bool isWritable() const override { return m_writable; }
    const std::string& path() const override { return m_path; }
    // The same file opened again through this descriptor (so that no
    // rename or replacement of the path can come between), with a file
    // position and read-ahead of its own; without /proc, this descriptor,
    // which pread leaves where it is, serves both threads. Closing the
    // second descriptor leaves the writer's lock, held by the first, alone.
    std::unique_ptr<PageFile> concurrentReader() override
    {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        const int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) return std::make_unique<PosixPageFile>(fd, m_path, false, m_size, true);
        return std::make_unique<PosixPageFile>(m_fd, m_path, false, m_size, false);
    }

private:
    static constexpr size_t kMostVectors = 64;

    // A sync begun in the background does not cover what is written next.
    void noteWrite()
    {
        if (m_backgroundSync) m_backgroundSync->noteWrite();
    }

    // Writes up to kMostVectors pages in one pwritev().
    Status writeRun(uint64_t offset, size_t pageSize, std::span<const uint8_t* const> pages)
    {
        std::array<iovec, kMostVectors> vectors;
        for (size_t i = 0; i < pages.size(); ++i) vectors[i] = iovec{const_cast<uint8_t*>(pages[i]), pageSize};
        const size_t length = pages.size() * pageSize;
        iovec* from = vectors.data();
        size_t count = pages.size(), done = 0;
        while (done < length) {
            ssize_t n = ::pwritev(m_fd, from, int(count), off_t(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return ioError("cannot write " + m_path + ": " + std::strerror(errno));
            }
            done += size_t(n);
            skipDone(from, count, size_t(n));
        }
        if (offset + length > m_size) m_size = offset + length;
        return Status::ok();
    }

    // Reads `length` bytes at `offset` into `vectors`, which hold that many.
    Status readInto(uint64_t offset, size_t length, iovec* vectors, size_t count)
    {
        if (offset > m_size || length > m_size - offset)
            return corruption("the file ends before the data it should hold (read of " + std::to_string(length) +
                              " bytes at offset " + std::to_string(offset) + ", file size " + std::to_string(m_size) + ")");
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::preadv(m_fd, vectors, int(count), off_t(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                return ioError("cannot read " + m_path + ": " + std::strerror(errno));
            }
            if (n == 0) return corruption("the file " + m_path + " ended while being read");
            done += size_t(n);
            skipDone(vectors, count, size_t(n));
        }
        return Status::ok();
    }

    // After a short read or write of `n` bytes, on from where it stopped.
    static void skipDone(iovec*& vectors, size_t& count, size_t n)
    {
        for (size_t left = n; left > 0 && count > 0;) {
            if (left >= vectors->iov_len) {
                left -= vectors->iov_len;
                ++vectors;
                --count;
            } else {
                vectors->iov_base = static_cast<uint8_t*>(vectors->iov_base) + left;
                vectors->iov_len -= left;
                left = 0;
            }
        }
    }

    int m_fd;
    std::string m_path;
    bool m_writable;
    uint64_t m_size;
    bool m_ownsFd;
    std::unique_ptr<BackgroundWriteBack> m_writeBack;  // started by the first startWriteBack()
    std::unique_ptr<BackgroundSync> m_backgroundSync;  // started by the first startSync()
};

}  // namespace

Status PageFile::writePages(uint64_t offset, size_t pageSize, std::span<const uint8_t* const> pages)
{
    for (size_t i = 0; i < pages.size(); ++i) VK_RETURN_IF_ERROR(write(offset + i * pageSize, pages[i], pageSize));
    return Status::ok();
}

Status PageFile::readPages(uint64_t offset, size_t pageSize, std::span<uint8_t* const> pages)
{
    for (size_t i = 0; i < pages.size(); ++i) VK_RETURN_IF_ERROR(read(offset + i * pageSize, pageSize, pages[i]));
    return Status::ok();
}

namespace {

// A read of a file held in memory.
Status readHeldBytes(const std::vector<uint8_t>& bytes, uint64_t offset, size_t length, uint8_t* out)
{
    if (offset > bytes.size() || length > bytes.size() - offset)
        return corruption("the file ends before the data it should hold");
    if (length) std::memcpy(out, bytes.data() + offset, length);
    return Status::ok();
}

// Reads the bytes of a MemoryPageFile that outlives it.
class MemoryReader final : public PageFile {
public:
    MemoryReader(const std::vector<uint8_t>& bytes, std::string path) : m_bytes(bytes), m_path(std::move(path)) {}
    Status read(uint64_t offset, size_t length, uint8_t* out) override { return readHeldBytes(m_bytes, offset, length, out); }
    bool readsAhead() const override { return true; }
    Status write(uint64_t, const uint8_t*, size_t) override { return readOnly(); }
    Status sync() override { return Status::ok(); }
    Status truncate(uint64_t) override { return readOnly(); }
    uint64_t size() const override { return m_bytes.size(); }
    bool isWritable() const override { return false; }
    const std::string& path() const override { return m_path; }

private:
    Status readOnly() const { return Status(ErrorCode::ReadOnly, "a reader of a file in memory does not write"); }
    const std::vector<uint8_t>& m_bytes;
    std::string m_path;
};

}  // namespace

Result<std::unique_ptr<PageFile>> openPosixFile(const std::string& path, OpenMode mode)
{
    if (path.empty()) return invalidArgument("no database file was given");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return notFound("the file " + path + " does not exist");
        return ioError("cannot open " + path + ": " + std::strerror(errno));
    }
    if (S_ISDIR(st.st_mode)) return ioError(path + " is a folder, not a database file");
    if (!S_ISREG(st.st_mode)) return ioError(path + " is not a regular file");
    int flags = (mode == OpenMode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) return ioError("cannot open " + path + ": " + std::strerror(errno));
    // One writer at a time: a second Varnika or varnika-db that wants to
    // change the file is refused while this one holds it.
    if (mode == OpenMode::ReadWrite && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK)
            return Status(ErrorCode::Locked, "the file " + path + " is being changed by another program");
        return ioError("cannot lock " + path + ": " + std::strerror(e));
    }
    return std::unique_ptr<PageFile>(
        new PosixPageFile(fd, path, mode == OpenMode::ReadWrite, uint64_t(st.st_size)));
}

Status MemoryPageFile::read(uint64_t offset, size_t length, uint8_t* out)
{
    return readHeldBytes(m_bytes, offset, length, out);
}

Status MemoryPageFile::write(uint64_t offset, const uint8_t* data, size_t length)
{
    if (offset + length > m_bytes.size()) m_bytes.resize(offset + length);
    if (length) std::memcpy(m_bytes.data() + offset, data, length);
    return Status::ok();
}

std::unique_ptr<PageFile> MemoryPageFile::concurrentReader()
{
    return std::make_unique<MemoryReader>(m_bytes, m_path);
}

Status MemoryPageFile::truncate(uint64_t size)
{
    m_bytes.resize(size);
    return Status::ok();
}

}  // namespace varnika::jet
