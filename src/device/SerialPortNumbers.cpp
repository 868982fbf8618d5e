#include "device/SerialPortRegistry.h"

// The numbers ports are known by, on every system (the listing of ports is
// SerialPortRegistry.cpp or SerialPortRegistryWin32.cpp).

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Registry {
    std::mutex mutex;                //!< Protects paths.
    std::vector<std::string> paths;  //!< Port number n is paths[n - 1].
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

}  // namespace

int RegisterSerialPortPath(const std::string& path)
{
    if (path.empty()) {
        return 0;
    }
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const auto found = std::find(registry.paths.begin(), registry.paths.end(), path);
    if (found != registry.paths.end()) {
        return static_cast<int>(found - registry.paths.begin()) + 1;
    }
    registry.paths.push_back(path);
    return static_cast<int>(registry.paths.size());
}

std::string SerialPortPathFromNumber(int portNumber)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (portNumber <= 0 || static_cast<size_t>(portNumber) > registry.paths.size()) {
        return {};
    }
    return registry.paths[static_cast<size_t>(portNumber) - 1];
}
