#include "telemetry/windows_version_name.h"

#include <map>

namespace kx::telemetry {

namespace {

std::wstring numbered(const wchar_t* prefix, unsigned major, unsigned minor) {
  return prefix + std::to_wstring(major) + L"." + std::to_wstring(minor);
}

std::wstring bitness(const WindowsVersion& v) {
  std::wstring text = v.x64 ? L" 64bits" : L" 32bits";
  if (v.mediaCenter) text += L" (Media Center)";
  return text;
}

std::wstring windows9x(const WindowsVersion& v) {
  if (v.major == 4 && v.minor == 0) {
    if (v.build <= 950) return L"Windows 95";
    if (v.build == 1111) return L"Windows 95 SR2";
    if (v.build >= 1212 && v.build <= 1214) return L"Windows 95 SR2.5";
    return L"Windows 95 SR2.x";
  }
  if (v.major == 4 && v.minor == 10) return v.build >= 2222 ? L"Windows 98 Second Edition" : L"Windows 98";
  if (v.major == 4 && v.minor == 90) return L"Windows Me (Millenium)";
  return numbered(L"Windows v", v.major, v.minor);
}

std::wstring oldNt(const WindowsVersion& v) {
  if (v.major == 3 && v.minor == 0) return L"Windows NT 3";
  if (v.major == 3 && v.minor == 1) return L"Windows NT 3.1";
  if (v.major == 3 && v.minor == 51) return L"Windows NT 3.51";
  if (v.major == 4 && v.minor == 0) return std::wstring(L"Windows NT 4.0") + (v.workstation ? L" Workstation" : L"");
  if (v.major < 3) return L"Windows NT";
  return numbered(L"Windows NT v", v.major, v.minor);
}

std::wstring server2003Suffix(const WindowsVersion& v) {
  if (v.itanium) return v.datacenter ? L" Datacenter Edition pour Itanium" : L" Enterprise Edition pour Itanium";
  if (v.x64) {
    if (v.datacenter) return L" Datacenter x64 Edition";
    return v.enterprise ? L" Enterprise x64 Edition" : L" Standard x64 Edition";
  }
  if (v.computeCluster) return L" Compute Cluster Edition";
  if (v.datacenter) return L" Datacenter Edition";
  if (v.enterprise) return L" Enterprise Edition";
  if (v.webEdition) return L" Web Edition";
  return L" Standard Edition";
}

std::wstring windows5(const WindowsVersion& v) {
  std::wstring name;
  if (v.minor == 0) {
    name = L"Windows 2000";
    if (v.workstation) {
      name += v.personal ? L" Home Edition" : L" Professionel";
    } else {
      name += v.datacenter ? L" DataCenter Server " : v.enterprise ? L" Advanced Server " : L" Server ";
    }
  } else if (v.minor == 1) {
    name = std::wstring(L"Windows XP") + (v.personal ? L" Home Edition" : L" Professionel");
  } else if (v.minor == 2) {
    if (v.serverR2) {
      name = L"Windows Server 2003 R2";
    } else if (v.workstation && v.x64) {
      name = L"Microsoft Windows XP Professional x64 Edition";
    } else {
      name = L"Windows Server 2003" + server2003Suffix(v);
    }
  } else {
    name = numbered(L"Windows NT v", v.major, v.minor);
  }
  return name + bitness(v);
}

std::wstring windows6(const WindowsVersion& v) {
  std::wstring name;
  switch (v.minor) {
    case 0: name = v.workstation ? L"Windows Vista" : L"Windows Server 2008"; break;
    case 1: name = v.build == 6801 ? L"Windows 7 preBeta build M3 PDC 2008" : L"Windows 7"; break;
    case 2:
      if (v.build == 7867) {
        name = L"Windows 8 Milestone1";
      } else if (v.build >= 7910 && v.build <= 7947) {
        name = L"Windows 8 Milestone2";
      } else if (v.build == 7955) {
        name = L"Windows 8 Milestone3";
      } else {
        name = L"Windows 8";
      }
      break;
    case 3: name = L"Windows 8.1"; break;
    case 4: name = L"Windows 10"; break;
    default: name = numbered(L"Windows NT v", v.major, v.minor);
  }
  name += bitness(v);
  if (v.minor <= 2) name += windowsEditionSuffix(v.edition);
  return name;
}

}  // namespace

std::wstring windowsEditionSuffix(unsigned edition) {
  static const std::map<unsigned, std::wstring> names{
      {0x00, L" Produit inconnu"},
      {0x01, L" Ultimate"},
      {0x02, L" Home Basic"},
      {0x03, L" Home Premium"},
      {0x04, L" Enterprise"},
      {0x05, L" Home Basic N"},
      {0x06, L" Business"},
      {0x07, L" Standard"},
      {0x08, L" Datacenter"},
      {0x09, L" Small Business Server"},
      {0x0A, L" Server Enterprise"},
      {0x0B, L" Starter"},
      {0x0C, L" Datacenter (core installation)"},
      {0x0D, L" Standard (core installation)"},
      {0x0E, L" Server Enterprise (core installation)"},
      {0x0F, L" Enterprise pour Itanium"},
      {0x10, L" Business N"},
      {0x11, L" Web Server"},
      {0x12, L" HPC"},
      {0x14, L" Storage Server Express"},
      {0x15, L" Storage Server Standard"},
      {0x16, L" Storage Server Workgroup"},
      {0x17, L" Storage Server Enterprise"},
      {0x18, L" Windows Essential Server Solutions"},
      {0x1A, L" Home Premium N"},
      {0x1B, L" Enterprise N"},
      {0x1C, L" Ultimate N"},
      {0x1D, L" Web Server(core installation)"},
      {0x1E, L" Essential Business Server Management Server"},
      {0x1F, L" Essential Business Server Security Server"},
      {0x20, L" Essential Business Server Messaging Server"},
      {0x23, L" Windows Essential Server Solutions sans Hyper-V"},
      {0x24, L" Standard sans Hyper-V"},
      {0x25, L" Datacenter sans Hyper-V"},
      {0x26, L" Server Enterprise sans Hyper-V"},
      {0x27, L" Datacenter sans Hyper-V(core installation)"},
      {0x28, L" Standard sans Hyper-V(core installation)"},
      {0x29, L" Server Enterprise sans Hyper-V(core installation)"},
      {0x2A, L" Microsoft Hyper-V Server"},
  };
  const auto it = names.find(edition);
  return it == names.end() ? std::wstring() : it->second;
}

std::wstring windowsDisplayName(const WindowsVersion& v) {
  std::wstring name;
  switch (v.platform) {
    case WindowsVersion::Platform::Win32s: return L"Win32s";
    case WindowsVersion::Platform::Windows9x: return windows9x(v);
    case WindowsVersion::Platform::Other: return L"ERROE";
    case WindowsVersion::Platform::WindowsNT: break;
  }
  if (v.major == 10) {
    name = L"Windows 10" + bitness(v);
  } else if (v.major == 6) {
    name = windows6(v);
  } else if (v.major == 5) {
    name = windows5(v);
  } else {
    name = oldNt(v);
  }
  if (v.servicePack > 0) name += L" Service Pack " + std::to_wstring(v.servicePack);
  return name;
}

}  // namespace kx::telemetry
