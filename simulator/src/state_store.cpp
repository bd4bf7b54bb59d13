#include "state_store.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace kvsim {

namespace {
void make_directories(const std::string &dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') ::mkdir(dir.substr(0, pos).c_str(), 0755);
    }
}
}  // namespace

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

Json read_state_file(const std::string &path, bool warn) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return Json::object();
    std::ifstream in(path);
    std::stringstream text;
    if (in) text << in.rdbuf();
    try {
        Json state = Json::parse(text.str());
        if (state.is_object()) return state;
    } catch (const std::exception &) {
    }
    if (warn)
        std::fprintf(stderr, "kvzubr-sim: state file %s is unreadable; devices start in factory state\n", path.c_str());
    return Json::object();
}

bool write_state_file(const std::string &path, const Json &state) {
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) make_directories(path.substr(0, slash));
    const std::string text = state.dump(1) + "\n";
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out) return false;
        out << text;
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace kvsim
