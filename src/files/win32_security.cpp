#include "files/win32_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace tollwick {

OwnerOnlyFileSecurity::OwnerOnlyFileSecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    wchar_t* sid = nullptr;
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        // P: protected, nothing inherited from the folder; FA: full access; SY: SYSTEM.
        const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")(A;;FA;;;SY)";
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                 &descriptor_, nullptr)) {
            attributes_.nLength = sizeof attributes_;
            attributes_.lpSecurityDescriptor = descriptor_;
            attributes_.bInheritHandle = FALSE;
        }
        LocalFree(sid);
    }
    CloseHandle(token);
}

OwnerOnlyFileSecurity::~OwnerOnlyFileSecurity() {
    if (descriptor_) LocalFree(descriptor_);
}

bool CopyDacl(HANDLE from, HANDLE to) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD status = GetSecurityInfo(from, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, &dacl, nullptr, &descriptor);
    if (status == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        // An unprotected DACL takes its inherited entries from the folder again.
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION |
            ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                           : UNPROTECTED_DACL_SECURITY_INFORMATION);
        status = SetSecurityInfo(to, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
        LocalFree(descriptor);
    }
    SetLastError(status);
    return status == ERROR_SUCCESS;
}

}  // namespace tollwick
