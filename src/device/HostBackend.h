// The backend of the host the program runs on: drive letters on Windows,
// removable block devices on Linux.
#pragma once

#include <memory>

#include "device/Mass_storage.h"

namespace varnel {

std::unique_ptr<DeviceBackend> CreateHostBackend();

}  // namespace varnel
