#include "state_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "json_reader.h"

namespace kvsim {

namespace {

void make_directories(const std::string &dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') ::mkdir(dir.substr(0, pos).c_str(), 0755);
    }
}

void make_parent(const std::string &path) {
    const std::size_t slash = path.rfind('/');
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
    // Non-blocking, so a named pipe cannot hold the open; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
    std::string base;
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char *home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/state";
    else
        return "";
    return base + "/kvzubr-sim/state.json";
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
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = write_all(fd, state.dump(1) + "\n") && ::fsync(fd) == 0;
    if (::close(fd) == 0 && written && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    std::remove(temp.c_str());
    return false;
}

StateLock::StateLock(const std::string &path) {
    make_parent(path);
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

StateLock::~StateLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace kvsim
