#include <windows.h>

#include "platform/CodePage.h"

namespace plat {

unsigned AnsiCodePage() { return GetACP(); }

bool UseAnsiCodePage(unsigned cp) { return cp == 0 || cp == GetACP(); }

bool IsLeadByte(uint8_t b) { return IsDBCSLeadByte(b) != FALSE; }

std::u16string AnsiToWide(std::string_view text) {
  if (text.empty()) return std::u16string();
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(n > 0 ? static_cast<size_t>(n) : 0, u'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(&out[0]), n);
  }
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), &out[0], n, nullptr,
                        nullptr);
  }
  return out;
}

}  // namespace plat
