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

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

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

bool write_all(int fd, const void *data, std::size_t size) {
    const char *bytes = static_cast<const char *>(data);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads up to `size` bytes; fewer only at the end of the file or on a fault.
std::size_t read_some(int fd, void *out, std::size_t size) {
    char *bytes = static_cast<char *>(out);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

// Opens a regular file of at most `limit` bytes for reading.
FileRead open_regular(const std::string &path, std::size_t limit, int *fd, std::size_t *size, std::string *fault) {
    *fd = open_for_reading(path);
    if (*fd < 0) {
        if (errno == ENOENT) return FileRead::Missing;
        *fault = std::string("cannot be read: ") + std::strerror(errno);
        return FileRead::Failed;
    }
    struct stat info;
    if (::fstat(*fd, &info) != 0)
        *fault = std::string("cannot be read: ") + std::strerror(errno);
    else if (!S_ISREG(info.st_mode))
        *fault = "not a regular file";
    else if (static_cast<std::uint64_t>(info.st_size) > limit)
        *fault = "too large (" + std::to_string(info.st_size) + " bytes, at most " + std::to_string(limit) + ")";
    else {
        *size = static_cast<std::size_t>(info.st_size);
        return FileRead::Read;
    }
    ::close(*fd);
    return FileRead::Failed;
}

// The state file: this first line with the length of the JSON text that follows, then the
// binary values of that text, one after another in the order the text gives them. In the text
// each binary value stands as {"$binary": its length}, so the text stays small and readable
// while a memory's bytes are read straight into place. A file that starts otherwise is read
// as JSON text alone, the form older versions wrote.
const char kStateMagic[] = "kvzubr-sim state 2 ";
const char kBinaryKey[] = "$binary";
constexpr std::size_t kStateHeadMax = 64;
constexpr std::size_t kReadPiece = 256u << 10;

bool is_binary_stand_in(const Json &value) {
    if (!value.is_object() || value.size() != 1) return false;
    const auto it = value.find(kBinaryKey);
    return it != value.end() && it->is_number_unsigned();
}

// Replaces every stand-in with the bytes read from `fd`, of which `left` remain in the file.
void read_binaries(Json &value, int fd, std::size_t &left) {
    if (is_binary_stand_in(value)) {
        const std::uint64_t length = value[kBinaryKey];
        if (length > left) throw std::runtime_error("binary data cut short");
        // Read a piece at a time into the piece just made room for, while it is still in cache.
        std::vector<std::uint8_t> bytes;
        bytes.reserve(static_cast<std::size_t>(length));
        while (bytes.size() < length) {
            const std::size_t at = bytes.size(), n = std::min<std::size_t>(kReadPiece, length - at);
            bytes.resize(at + n);
            if (read_some(fd, bytes.data() + at, n) != n) throw std::runtime_error("binary data cut short");
        }
        left -= bytes.size();
        value = Json::binary(std::move(bytes));
    } else if (value.is_structured()) {
        for (Json &member : value) read_binaries(member, fd, left);
    }
}

// Moves every binary value out of `value` into `out`, leaving stand-ins.
void take_binaries(Json &value, std::vector<Json::binary_t> &out) {
    if (value.is_binary()) {
        out.push_back(std::move(value.get_binary()));
        value = Json{{kBinaryKey, out.back().size()}};
    } else if (value.is_structured()) {
        for (Json &member : value) take_binaries(member, out);
    }
}

Json parse_state(int fd, std::size_t size) {
    std::string text(std::min(size, kStateHeadMax), '\0');
    text.resize(read_some(fd, &text[0], text.size()));
    const std::size_t magic = sizeof kStateMagic - 1, line_end = text.find('\n');
    if (text.compare(0, magic, kStateMagic) != 0) {
        const std::size_t head = text.size();
        text.resize(size);
        text.resize(head + read_some(fd, &text[head], size - head));
        return parse_json(text);
    }
    std::size_t json_length = 0, at = magic;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && json_length <= size; ++at)
        json_length = json_length * 10 + static_cast<std::size_t>(text[at] - '0');
    const std::size_t json_start = line_end + 1;
    if (at == magic || at != line_end || json_length > size - json_start)
        throw std::runtime_error("first line is not a state file's");
    text.assign(json_length, '\0');
    if (::lseek(fd, static_cast<off_t>(json_start), SEEK_SET) < 0 ||
        read_some(fd, &text[0], json_length) != json_length)
        throw std::runtime_error("cut short");
    Json state = parse_json(text);
    std::size_t left = size - json_start - json_length;
    read_binaries(state, fd, left);
    if (left != 0) throw std::runtime_error("binary data left over");
    return state;
}

}  // namespace

FileRead read_small_file(const std::string &path, std::size_t limit, std::string *text, std::string *fault) {
    int fd = -1;
    std::size_t size = 0;
    const FileRead result = open_regular(path, limit, &fd, &size, fault);
    if (result != FileRead::Read) return result;
    FdCloser closer{fd};
    text->assign(size, '\0');
    text->resize(read_some(fd, &(*text)[0], size));
    return result;
}

std::string state_file_path() {
    if (const char *set = std::getenv("KVZUBR_SIM_STATE")) return set;
    const std::string dir = default_state_directory();
    return dir.empty() ? "" : dir + kSeparators[0] + "state.json";
}

bool read_state_file(const std::string &path, Json *state, std::string *fault) {
    int fd = -1;
    std::size_t size = 0;
    switch (open_regular(path, kMaxStateSize, &fd, &size, fault)) {
    case FileRead::Missing: *state = Json::object(); return true;
    case FileRead::Failed: return false;
    case FileRead::Read: break;
    }
    FdCloser closer{fd};
    try {
        *state = parse_state(fd, size);
    } catch (const std::exception &e) {
        *fault = e.what();
        return false;
    }
    if (state->is_object()) return true;
    *fault = "not a JSON object";
    return false;
}

bool write_state_file(const std::string &path, Json &state) {
    std::vector<Json::binary_t> binaries;
    take_binaries(state, binaries);
    const std::string text = state.dump(1) + "\n";
    const std::string head = kStateMagic + std::to_string(text.size()) + "\n";
    make_parent(path);
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = open_for_writing(temp);
    if (fd < 0) return false;
    bool written = write_all(fd, head.data(), head.size()) && write_all(fd, text.data(), text.size());
    for (const auto &bytes : binaries) written = written && write_all(fd, bytes.data(), bytes.size());
    written = written && flush_to_disk(fd);
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
