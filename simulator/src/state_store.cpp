#include "state_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "json_reader.h"

namespace kvsim {

namespace {

// What differs between the systems: opening, locking, flushing and replacing files, making
// directories, and where the state file lives by default.
#ifdef _WIN32
const char kSeparators[] = "\\/";

// Shared for deletion too, so another process can replace the file while it is being read.
int open_for_reading(const std::string &path) {
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) CloseHandle(file);
    return fd;
}

int open_for_writing(const std::string &path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
}
int open_lock_file(const std::string &path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_BINARY, 0644);
}

bool lock_exclusive(int fd) {
    OVERLAPPED whole_file = {};
    return LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD,
                      MAXDWORD, &whole_file) != 0;
}

bool flush_to_disk(int fd) { return ::_commit(fd) == 0; }
// A rename does not replace an existing file here; this does, in one step.
bool replace_file(const std::string &from, const std::string &to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
void make_directory(const std::string &dir) { ::mkdir(dir.c_str()); }

std::string default_state_directory() {
    const char *local = std::getenv("LOCALAPPDATA");
    return local && *local ? std::string(local) + "\\kvzubr-sim" : "";
}
#else
const char kSeparators[] = "/";

// Non-blocking, so a named pipe cannot hold the open; it is refused as no regular file.
int open_for_reading(const std::string &path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}
int open_for_writing(const std::string &path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}
int open_lock_file(const std::string &path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
}

bool lock_exclusive(int fd) {
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool flush_to_disk(int fd) { return ::fsync(fd) == 0; }
bool replace_file(const std::string &from, const std::string &to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}
void make_directory(const std::string &dir) { ::mkdir(dir.c_str(), 0755); }

std::string default_state_directory() {
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) return std::string(xdg) + "/kvzubr-sim";
    if (const char *home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/state/kvzubr-sim";
    return "";
}
#endif

void make_directories(const std::string &dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || std::strchr(kSeparators, dir[pos])) make_directory(dir.substr(0, pos));
    }
}

void make_parent(const std::string &path) {
    const std::size_t slash = path.find_last_of(kSeparators);
    if (slash != std::string::npos && slash > 0) make_directories(path.substr(0, slash));
}

bool write_all(int fd, const std::string &text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

FileRead read_small_file(const std::string &path, std::size_t limit, std::string *text, std::string *fault) {
    const int fd = open_for_reading(path);
    if (fd < 0) {
        if (errno == ENOENT) return FileRead::Missing;
        *fault = std::string("cannot be read: ") + std::strerror(errno);
        return FileRead::Failed;
    }
    struct stat info;
    FileRead result = FileRead::Failed;
    if (::fstat(fd, &info) != 0) {
        *fault = std::string("cannot be read: ") + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        *fault = "not a regular file";
    } else if (static_cast<std::uint64_t>(info.st_size) > limit) {
        *fault = "too large (" + std::to_string(info.st_size) + " bytes, at most " + std::to_string(limit) + ")";
    } else {
        text->assign(static_cast<std::size_t>(info.st_size), '\0');
        std::size_t done = 0;
        while (done < text->size()) {
            const ssize_t n = ::read(fd, &(*text)[done], text->size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        text->resize(done);
        result = FileRead::Read;
    }
    ::close(fd);
    return result;
}

std::string state_file_path() {
    if (const char *set = std::getenv("KVZUBR_SIM_STATE")) return set;
    const std::string dir = default_state_directory();
    return dir.empty() ? "" : dir + kSeparators[0] + "state.json";
}

bool read_state_file(const std::string &path, Json *state, std::string *fault) {
    std::string text;
    switch (read_small_file(path, kMaxStateSize, &text, fault)) {
    case FileRead::Missing: *state = Json::object(); return true;
    case FileRead::Failed: return false;
    case FileRead::Read: break;
    }
    try {
        *state = parse_json(text);
    } catch (const std::exception &e) {
        *fault = e.what();
        return false;
    }
    if (state->is_object()) return true;
    *fault = "not a JSON object";
    return false;
}

bool write_state_file(const std::string &path, const Json &state) {
    make_parent(path);
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = open_for_writing(temp);
    if (fd < 0) return false;
    const bool written = write_all(fd, state.dump(1) + "\n") && flush_to_disk(fd);
    if (::close(fd) == 0 && written && replace_file(temp, path)) return true;
    std::remove(temp.c_str());
    return false;
}

StateLock::StateLock(const std::string &path) {
    make_parent(path);
    fd_ = open_lock_file(path + ".lock");
    if (fd_ < 0 || lock_exclusive(fd_)) return;
    ::close(fd_);
    fd_ = -1;
}

StateLock::~StateLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace kvsim
