#include "device/HostBackend.h"

#ifdef _WIN32
#include "device/WindowsBackend.h"
#else
#include "device/LinuxBackend.h"
#endif

namespace varnel {

std::unique_ptr<DeviceBackend> CreateHostBackend() {
#ifdef _WIN32
    return std::make_unique<WindowsBackend>();
#else
    return std::make_unique<LinuxBackend>();
#endif
}

}  // namespace varnel
