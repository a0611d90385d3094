#pragma once
// The one layer through which the engine touches a database file. Tests
// replace it with an in-memory file or with one that fails on purpose.

#include "db/status.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace varnika::jet {

class PageFile {
public:
    virtual ~PageFile() = default;

    // Reads exactly `length` bytes at `offset`. Reading past the end of the
    // file is a Corruption (the file is shorter than its structures say).
    virtual Status read(uint64_t offset, size_t length, uint8_t* out) = 0;
    // Reads consecutive pages of `pageSize` bytes from `offset`, page i
    // into pages[i], in as few calls to the system as the file can. By
    // default one read() a page.
    virtual Status readPages(uint64_t offset, size_t pageSize, std::span<uint8_t* const> pages);
    // Whether the pager may read pages ahead of a scan from this file, in
    // runs: so for the files the engine opens itself. A layer over a file
    // says no, so that its reads are the pages asked for, one each.
    virtual bool readsAhead() const { return false; }
    // Writes exactly `length` bytes at `offset`, extending the file if needed.
    virtual Status write(uint64_t offset, const uint8_t* data, size_t length) = 0;
    // Writes consecutive pages of `pageSize` bytes at `offset`, page i from
    // pages[i], in as few calls to the system as the file can. By default
    // one write() a page.
    virtual Status writePages(uint64_t offset, size_t pageSize, std::span<const uint8_t* const> pages);
    // Makes every earlier write durable.
    virtual Status sync() = 0;
    // A hint: the system may start carrying the writes so far to the
    // file's first `length` bytes to the disk now, so that a later sync()
    // has less left to wait for. Promises nothing; by default does nothing.
    virtual void startWriteBack(uint64_t length) { (void)length; }
    // Starts a sync of the writes so far that goes on while the caller
    // works; the next sync() takes its outcome, and syncs again only when
    // the file was written since it began. By default does nothing.
    virtual void startSync() {}
    virtual Status truncate(uint64_t size) = 0;
    virtual uint64_t size() const = 0;
    virtual bool isWritable() const = 0;
    // The path the file was opened from, for messages; may be empty.
    virtual const std::string& path() const = 0;
    // A handle of its own on the same bytes, for reading them on another
    // thread while this one is neither written, resized nor closed (it
    // must not outlive this one). Null when the file offers none: a layer
    // over a file, whose reads are its own business, reads on one thread.
    virtual std::unique_ptr<PageFile> concurrentReader() { return nullptr; }
};

enum class OpenMode { ReadOnly, ReadWrite };

// Puts a layer of the caller's over every file the engine opens for a
// database (the database itself and its journal): tests count or fail the
// writes of a real file with it. Empty: the files are used as opened.
using PageFileLayer = std::function<std::unique_ptr<PageFile>(std::unique_ptr<PageFile>)>;

// Opens a file on disk. A missing file is NotFound, a directory or a file that
// cannot be opened is IOError with the system's reason in the message.
Result<std::unique_ptr<PageFile>> openPosixFile(const std::string& path, OpenMode mode);

// A file held in memory, for tests and for building databases before saving.
class MemoryPageFile : public PageFile {
public:
    MemoryPageFile() = default;
    explicit MemoryPageFile(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

    Status read(uint64_t offset, size_t length, uint8_t* out) override;
    bool readsAhead() const override { return true; }
    Status write(uint64_t offset, const uint8_t* data, size_t length) override;
    Status sync() override { return Status::ok(); }
    Status truncate(uint64_t size) override;
    uint64_t size() const override { return m_bytes.size(); }
    bool isWritable() const override { return true; }
    const std::string& path() const override { return m_path; }

    const std::vector<uint8_t>& bytes() const { return m_bytes; }
    std::unique_ptr<PageFile> concurrentReader() override;

private:
    std::vector<uint8_t> m_bytes;
    std::string m_path;
};

}  // namespace varnika::jet
