// tools/powercut/SyncRecorder.cpp: a preload library that notes what each successful flush
// made durable, so a power cut can be simulated from outside the gateway afterwards
// (tools/powercut-check.sh).
//
// LD_PRELOAD=libsync_recorder.so SYNC_RECORD_DIR=<dir> SYNC_RECORD_LOG=<file> <program>
//
// After every fsync or fdatasync that succeeded on a descriptor naming something directly in
// <dir>, one line is appended to <file> before the call returns to the program, so whatever the
// program does after the flush (an acknowledgement) comes after its line. The line says what was
// there when the flush began: what other threads write meanwhile may or may not be on the disk.
//   F <name> <size> <hex>   a file: its size, and its content in hex when it is 64 bytes or less
//   D <name> <name>...      the directory <dir> itself: the entries it holds
// The line is written with one write() on an O_APPEND descriptor, so lines from several threads
// never mix, and a SIGKILL leaves every line of a finished flush in the file.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using SyncCall = int (*)(int);

SyncCall realCall(const char* name)
{
    return reinterpret_cast<SyncCall>(dlsym(RTLD_NEXT, name));
}

std::string pathOf(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

std::string hexOf(int fd, off_t size)
{
    static const char digits[] = "0123456789abcdef";
    unsigned char bytes[64];
    const ssize_t n = pread(fd, bytes, static_cast<std::size_t>(size), 0);
    std::string hex;
    for (ssize_t i = 0; i < n; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::string entriesOf(const std::string& directory)
{
    std::string names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names += " " + name;
        }
        closedir(dir);
    }
    return names;
}

// The line for fd, or nothing when fd names nothing in the watched directory.
std::string lineFor(int fd, const std::string& watched)
{
    const std::string path = pathOf(fd);
    struct stat st;
    if (path.empty() || fstat(fd, &st) != 0)
        return {};
    if (path == watched && S_ISDIR(st.st_mode))
        return "D ." + entriesOf(watched) + "\n";
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || path.compare(0, slash, watched) != 0 ||
        slash != watched.size() || !S_ISREG(st.st_mode))
        return {};
    std::string line = "F " + path.substr(slash + 1) + " " + std::to_string(st.st_size);
    if (st.st_size <= 64)
        line += " " + hexOf(fd, st.st_size);
    return line + "\n";
}

std::string lineFor(int fd)
{
    const char* dir = std::getenv("SYNC_RECORD_DIR");
    char watched[4096];
    if (dir == nullptr || std::getenv("SYNC_RECORD_LOG") == nullptr ||
        realpath(dir, watched) == nullptr)
        return {};
    return lineFor(fd, watched);
}

void note(const std::string& line)
{
    if (line.empty())
        return;
    const char* log = std::getenv("SYNC_RECORD_LOG");
    const int out = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (out < 0)
        return;
    if (write(out, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        std::fputs("sync recorder: a line was not written\n", stderr);
    close(out);
}

int recorded(const char* name, int fd)
{
    static const SyncCall fsyncCall = realCall("fsync");
    static const SyncCall fdatasyncCall = realCall("fdatasync");
    const int error = errno;
    const std::string line = lineFor(fd);
    errno = error;
    const int result = (name[1] == 's' ? fsyncCall : fdatasyncCall)(fd);
    if (result == 0) {
        note(line);
        errno = error;
    }
    return result;
}

} // namespace

extern "C" int fsync(int fd)
{
    return recorded("fsync", fd);
}

extern "C" int fdatasync(int fd)
{
    return recorded("fdatasync", fd);
}
