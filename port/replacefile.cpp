#include "port/replacefile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <streambuf>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "port/errors.h"

namespace {

constexpr int kNameAttempts = 64;
constexpr size_t kBufferBytes = 1 << 16;

std::string Reason(int error) {
    return std::strerror(error);
}

// Twelve random hexadecimal digits.
std::string RandomLetters() {
    unsigned char bytes[6] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw Exception("no random numbers: " + Reason(errno));
        got += static_cast<size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string letters;
    for (unsigned char b : bytes) {
        letters += kHex[b >> 4];
        letters += kHex[b & 15];
    }
    return letters;
}

// Writes every byte or gives the error.
int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

void SyncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;  // the rename is made; only its durability is left to the system
    fsync(fd);
    close(fd);
}

}  // namespace

// A stream buffer over the descriptor that remembers the first error, so that the reason for a
// full disk or a file size limit can be told.
class TFileBeside::TBuffer : public std::streambuf {
public:
    explicit TBuffer(int fd) : ffd(fd), fdata(kBufferBytes) {
        setp(fdata.data(), fdata.data() + fdata.size());
    }
    int Error() const { return ferror; }

protected:
    int_type overflow(int_type c) override {
        if (Drain() != 0) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Drain(); }

private:
    int Drain() {
        if (ferror != 0) return -1;
        ferror = WriteAll(ffd, pbase(), static_cast<size_t>(pptr() - pbase()));
        setp(fdata.data(), fdata.data() + fdata.size());
        return ferror == 0 ? 0 : -1;
    }

    int ffd;
    std::vector<char> fdata;
    int ferror = 0;
};

TFileBeside::TFileBeside(const std::string& target, std::string_view suffix, TWriter writer)
    : ftarget(target) {
    for (int attempt = 0;; ++attempt) {
        fpath = target + "." + RandomLetters() + std::string(suffix);
        // 0666 less the user's umask, as any new file; a replaced file's own permissions are
        // given at Commit.
        ffd = open(fpath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (ffd >= 0) break;
        if (errno != EEXIST || attempt == kNameAttempts) {
            const int error = errno;
            fpath.clear();
            throw Exception("Nothing could be written beside " + target + ": " + Reason(error));
        }
    }
    if (writer == TWriter::Stream) {
        fbuffer = std::make_unique<TBuffer>(ffd);
        fstream = std::make_unique<std::ostream>(fbuffer.get());
    } else {
        close(ffd);
        ffd = -1;
    }
}

TFileBeside::~TFileBeside() {
    if (ffd >= 0) close(ffd);
    if (fcommitted || fpath.empty()) return;
    unlink(fpath.c_str());
    for (const char* beside : {"-journal", "-wal", "-shm"})
        unlink((fpath + beside).c_str());
}

std::ostream& TFileBeside::Stream() {
    if (!fstream) throw Exception("The file beside " + ftarget + " is written by its path");
    return *fstream;
}

void TFileBeside::CheckWritten() {
    if (!fstream) return;
    fstream->flush();
    if (*fstream) return;
    const int error = fbuffer->Error() != 0 ? fbuffer->Error() : EIO;
    throw Exception("Nothing was written to " + ftarget + ": " + Reason(error));
}

void TFileBeside::Commit() {
    auto fail = [this](int error) {
        throw Exception("Nothing was written to " + ftarget + ": " + Reason(error));
    };
    CheckWritten();
    const int fd = ffd >= 0 ? ffd : open(fpath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(errno);
    struct stat replaced {};
    int error = 0;
    if (fsync(fd) != 0) {
        error = errno;
    } else if (stat(ftarget.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode) &&
               fchmod(fd, replaced.st_mode & 07777) != 0) {
        error = errno;
    }
    if (fd != ffd) close(fd);
    if (error != 0) fail(error);
    if (ffd >= 0) {
        const int closed = close(ffd);
        ffd = -1;
        if (closed != 0) fail(errno);
    }
    if (rename(fpath.c_str(), ftarget.c_str()) != 0) fail(errno);
    fcommitted = true;
    SyncFolderOf(ftarget);
}
