#include "wizard/ui/page3_presets.h"

#include <cstdio>

namespace qel {

std::string NormalizeDottedAddress(const std::string& text) {
  unsigned parts[4] = {};
  int part = 0, digits = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      // Leading zeros are read away; a fourth significant digit is too many.
      parts[part] = parts[part] * 10 + static_cast<unsigned>(c - '0');
      if (++digits > 3 || parts[part] > 255) return std::string();
    } else if (c == '.' && digits > 0 && part < 3) {
      ++part;
      digits = 0;
    } else {
      return std::string();
    }
  }
  if (part != 3 || digits == 0) return std::string();
  char out[16];
  std::snprintf(out, sizeof out, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  return out;
}

BOOL CPresetPage3::OnInitDialog() {
  CPage3::OnInitDialog();
  if (!m_strCenter.empty()) m_pPresetView->SetCenterAddress(m_strCenter);
  if (!m_strPackage.empty()) m_pPresetView->SetPackagePath(m_strPackage);
  return TRUE;
}

}  // namespace qel
