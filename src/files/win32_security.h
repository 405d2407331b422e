// Windows only: what stands for POSIX permission bits. A file that holds card data or the
// password is created with a protected DACL that lets only the user and SYSTEM open it (mode
// 0600), and a file rewritten through a replacement keeps the DACL the old file had.
#pragma once

#include <windows.h>

namespace tollwick {

class OwnerOnlyFileSecurity {
  public:
    OwnerOnlyFileSecurity();
    ~OwnerOnlyFileSecurity();
    OwnerOnlyFileSecurity(const OwnerOnlyFileSecurity&) = delete;
    OwnerOnlyFileSecurity& operator=(const OwnerOnlyFileSecurity&) = delete;

    // For CreateFileW; nullptr when the user's SID could not be had (GetLastError says why).
    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// Gives `to` the DACL of `from` (its protection included). `from` needs READ_CONTROL, `to`
// WRITE_DAC. False, with GetLastError set, when it could not.
bool CopyDacl(HANDLE from, HANDLE to);

}  // namespace tollwick
