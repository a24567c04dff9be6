// Reading one resource out of a Windows module image (PE32 or PE32+) without
// loading or running it: the image is treated as untrusted bytes. The POSIX
// environment uses it for LoadModuleResource; Windows has LoadLibraryExA.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

constexpr int kResourceRcData = 10;

// Finds resource `name` of numeric `type` in the module image, taking the
// first language, as FindResourceA does: named entries match without regard
// to case (ASCII); a name "#123" means the numeric ID 123. Returns 0 with
// *data = exactly the resource's bytes, or 4 when the image is not a module,
// is malformed anywhere on the way, or lacks the resource.
int FindPeResource(const unsigned char* image, size_t size, const std::string& name, int type,
                   std::vector<char>* data);

}  // namespace platform
