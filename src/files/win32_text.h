// Windows only: the conversions between the programs' UTF-8 text and the UTF-16 of the Windows
// API, and the text of a Windows error code. For the Windows twins of the platform services.
#pragma once

#include <string>
#include <string_view>

namespace tollwick {

// Malformed input becomes U+FFFD; nothing is dropped silently.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// "The process cannot access the file because it is being used by another process" for a
// GetLastError() code, in the system's language, without the trailing period and line end.
std::string Win32ErrorText(unsigned long code);

}  // namespace tollwick
