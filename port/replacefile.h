// A file written beside another and put in its place only when whole: an export or a copy
// replaces what was at its target in one rename, so that a failure, a cancel or a full disk
// leaves the old file as it was, and a reader never sees half a file.
//
// The new file gets a name no file had (the target's, a dot, random letters and a suffix), made
// exclusively, so it is never an older file, a link put there beforehand, or another program's
// file in the making. Whatever the outcome, the only file removed is that new one (with the
// -journal a database connection may have left beside it).
//
// Thread safety: an object is used by one thread at a time.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

class TFileBeside {
public:
    // How the new file is written: through Stream, or by another library that opens it by its
    // path (this object then keeps no descriptor open, so that closing it cannot drop the
    // other's file locks).
    enum class TWriter { Stream, ByPath };

    // Makes the new file in target's folder. Raises Exception naming target and the reason.
    TFileBeside(const std::string& target, std::string_view suffix, TWriter writer);
    // Removes the new file and its -journal, -wal and -shm unless it was committed.
    ~TFileBeside();
    TFileBeside(const TFileBeside&) = delete;
    TFileBeside& operator=(const TFileBeside&) = delete;

    const std::string& Path() const { return fpath; }
    // The stream to the new file (TWriter::Stream only). A failed write sets its badbit.
    std::ostream& Stream();
    // Raises Exception naming the target and the reason when a write to Stream failed.
    void CheckWritten();

    // Puts the new file in the target's place: checks that every byte reached the file, writes it
    // out to the disk, gives it the permissions of the file it replaces, renames it onto the
    // target and writes the rename out. Raises Exception naming the target and the reason; the
    // target is then as it was.
    void Commit();

private:
    class TBuffer;

    std::string ftarget;
    std::string fpath;
    int ffd = -1;
    std::unique_ptr<TBuffer> fbuffer;
    std::unique_ptr<std::ostream> fstream;
    bool fcommitted = false;
};
