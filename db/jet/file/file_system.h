#pragma once
// The file system around a database file: opening and creating files,
// whether a file or folder may be written, Access's lock file beside the
// database, removing a journal, the boot the machine is in. The engine asks
// these questions here only, so that tests answer them with a file system
// held in memory (memory_file_system.h) and play the read-only file, the
// read-only folder, the live lock and the second writer whoever runs them.

#include "db/jet/file/page_file.h"
#include "db/status.h"

#include <memory>
#include <string>
#include <vector>

namespace varnika::jet {

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Opens a file. A missing file is NotFound; a folder, or a file that
    // cannot be opened, IOError with the system's reason. Opening for
    // writing takes the one-writer lock: while another opener holds it the
    // open fails with Locked.
    virtual Result<std::unique_ptr<PageFile>> open(const std::string& path, OpenMode mode) = 0;

    // Opens a file for writing (with the lock, as open() does), first
    // creating it empty when there is none. IOError when it cannot be made.
    virtual Result<std::unique_ptr<PageFile>> openOrCreate(const std::string& path) = 0;

    // Creates a new file for writing; an existing one is not touched
    // (InvalidArgument).
    virtual Result<std::unique_ptr<PageFile>> createNew(const std::string& path) = 0;

    // Removes a file; a missing one is no error.
    virtual Status remove(const std::string& path) = 0;

    virtual bool exists(const std::string& path) = 0;

    // Whether this program may write the file or folder, as the system
    // decides: the superuser may write what nobody else may.
    virtual bool canWrite(const std::string& path) = 0;

    // Whether the file's permission bits let anybody write it; a file that
    // is missing counts as writable.
    virtual bool permitsWriting(const std::string& path) = 0;

    // The names of the entries of a folder; none when it cannot be read.
    virtual std::vector<std::string> list(const std::string& folder) = 0;

    // Whether another program holds a byte-range lock anywhere on the
    // file, past its end included (where Jet keeps its users' locks).
    virtual bool isLockedByAnother(const std::string& path) = 0;

    // Tells one start of the machine from another (empty when unknown).
    virtual std::string bootId() = 0;
};

// The system's files. Stateless: each caller may make its own.
std::shared_ptr<FileSystem> posixFileSystem();

}  // namespace varnika::jet
