#include "murlin_binding.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>

namespace varnak {
namespace {

// The library's file name is its SONAME (libmurlin.so.0), which an installed
// system has even without the development package's libmurlin.so link. The
// build passes the name and the install layout's path from the programs'
// folder to the libraries' folder.
#ifndef MURLIN_LIBRARY
#define MURLIN_LIBRARY "libmurlin.so.0"
#endif
#ifndef MURLIN_LIBDIR_FROM_BINDIR
#define MURLIN_LIBDIR_FROM_BINDIR "../lib"
#endif
constexpr const char* kLibraryName = MURLIN_LIBRARY;

// The folder of the running executable, from /proc/self/exe; empty if unknown.
std::string ExecutableFolder()
{
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
bool Bind(void* handle, const char* name, F& slot, std::string& error)
{
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        error = std::string(kLibraryName) + ": export " + name + " not found";
        return false;
    }
    slot = reinterpret_cast<F>(symbol);
    return true;
}

Binding Load()
{
    Binding b;
    void* handle = nullptr;
    std::string tried;  // "path: reason" of every failed attempt
    auto attempt = [&](const std::string& file, const std::string& label) {
        handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) return true;
        const char* reason = dlerror();
        if (!tried.empty()) tried += ", ";
        tried += label + ": " + (reason ? reason : "unknown reason");
        return false;
    };
    for (const std::string& candidate : MurlinCandidates(ExecutableFolder())) {
        if (::access(candidate.c_str(), F_OK) != 0) {
            if (!tried.empty()) tried += ", ";
            tried += candidate + ": not found";
            continue;
        }
        if (attempt(candidate, candidate)) break;
    }
    if (!handle && !attempt(kLibraryName, "the system library path")) {
        b.error = std::string("cannot load ") + kLibraryName + " (tried " + tried + ")";
        return b;
    }
    MurlinApi& a = b.api;
    std::string& e = b.error;
    b.ok = Bind(handle, "RDSInit", a.RDSInit, e) && Bind(handle, "RDSBitFrame", a.RDSBitFrame, e) &&
           Bind(handle, "RDSBytFrame", a.RDSBytFrame, e) && Bind(handle, "RDSStruct", a.RDSStruct, e) &&
           Bind(handle, "RDSStat", a.RDSStat, e) && Bind(handle, "RDSData", a.RDSData, e) &&
           Bind(handle, "RDSDisplay", a.RDSDisplay, e) && Bind(handle, "RDSPTYDesc", a.RDSPTYDesc, e) &&
           Bind(handle, "RDSDPDesc", a.RDSDPDesc, e) && Bind(handle, "RDSEVTDesc", a.RDSEVTDesc, e) &&
           Bind(handle, "RDSDecoderSize", a.RDSDecoderSize, e) && Bind(handle, "RDSDecoderInit", a.RDSDecoderInit, e) &&
           Bind(handle, "RDSDecoderSelect", a.RDSDecoderSelect, e);
    // The library stays loaded for the life of the process: its text pointers
    // must stay valid, so the handle is never closed.
    if (!b.ok) dlclose(handle);
    return b;
}

}  // namespace

std::vector<std::string> MurlinCandidates(const std::string& executableFolder)
{
    if (executableFolder.empty()) return {};
    const std::filesystem::path folder(executableFolder);
    std::vector<std::string> paths{(folder / kLibraryName).string()};
    const std::string installed = (folder / MURLIN_LIBDIR_FROM_BINDIR / kLibraryName).lexically_normal().string();
    if (installed != paths.front()) paths.push_back(installed);
    return paths;
}

const MurlinApi* murlin(std::string* error)
{
    static const Binding binding = Load();  // thread-safe, once
    if (!binding.ok) {
        if (error) *error = binding.error;
        return nullptr;
    }
    return &binding.api;
}

std::string StrFromPtr(const char* text)
{
    if (!text) return {};
    return std::string(text, ::strnlen(text, 1024));
}

BlockErrors CountBlockErrors(const MurlinApi& api)
{
    const long long accepted = api.RDSStat(0), failed = api.RDSStat(1), repaired = api.RDSStat(2);
    return {failed, accepted + failed - repaired};
}

}  // namespace varnak
