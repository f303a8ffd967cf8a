#include "murlin_binding.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>

namespace varnak {
namespace {

constexpr const char* kLibraryName = "libmurlin.so";

// The folder of the running executable, from /proc/self/exe; empty if unknown.
std::string ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

struct Binding {
    MurlinApi api{};
    bool ok = false;
    std::string error;
};

template <typename F>
bool Bind(void* handle, const char* name, F& slot, std::string& error) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        error = std::string(kLibraryName) + ": export " + name + " not found";
        return false;
    }
    slot = reinterpret_cast<F>(symbol);
    return true;
}

Binding Load() {
    Binding b;
    void* handle = nullptr;
    std::string besideError;
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        const std::string beside = folder + "/" + kLibraryName;
        if (::access(beside.c_str(), F_OK) == 0) {
            handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) besideError = dlerror();
        }
    }
    if (!handle && besideError.empty()) {
        handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* reason = dlerror();
            b.error = std::string("cannot load ") + kLibraryName + " (looked in " +
                      (folder.empty() ? std::string("?") : folder) +
                      " and the system library path): " + (reason ? reason : "unknown reason");
            return b;
        }
    }
    if (!handle) {
        b.error = std::string("cannot load ") + kLibraryName + ": " + besideError;
        return b;
    }
    MurlinApi& a = b.api;
    std::string& e = b.error;
    b.ok = Bind(handle, "RDSInit", a.RDSInit, e) && Bind(handle, "RDSBitFrame", a.RDSBitFrame, e) &&
           Bind(handle, "RDSBytFrame", a.RDSBytFrame, e) && Bind(handle, "RDSStruct", a.RDSStruct, e) &&
           Bind(handle, "RDSStat", a.RDSStat, e) && Bind(handle, "RDSData", a.RDSData, e) &&
           Bind(handle, "RDSDisplay", a.RDSDisplay, e) && Bind(handle, "RDSPTYDesc", a.RDSPTYDesc, e) &&
           Bind(handle, "RDSDPDesc", a.RDSDPDesc, e) && Bind(handle, "RDSEVTDesc", a.RDSEVTDesc, e);
    // The library stays loaded for the life of the process: its text pointers
    // must stay valid, so the handle is never closed.
    if (!b.ok) dlclose(handle);
    return b;
}

}  // namespace

const MurlinApi* murlin(std::string* error) {
    static const Binding binding = Load();  // thread-safe, once
    if (!binding.ok) {
        if (error) *error = binding.error;
        return nullptr;
    }
    return &binding.api;
}

std::string StrFromPtr(const char* text) {
    if (!text) return {};
    return std::string(text, ::strnlen(text, 1024));
}

}  // namespace varnak
