// domain-tool: looks at and makes domain files of the embedded domain.
//   domain-tool show FILE                     accounts with their logon scripts and flags
//   domain-tool generate ACCOUNTS UNITS FILE  a domain of that many accounts and units
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/domain/domain_generator.h"
#include "platform/domain/domain_store.h"
#include "platform/domain/domain_text.h"
#include "res/program_info.h"

namespace {

const char kUsage[] =
    "usage: domain-tool show FILE\n"
    "       domain-tool generate ACCOUNTS UNITS FILE\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

std::string Flags(DWORD flags) {
  std::string out;
  auto add = [&](DWORD bit, const char* name) {
    if (flags & bit) out += out.empty() ? name : std::string("|") + name;
  };
  add(UF_SCRIPT, "SCRIPT");
  add(UF_ACCOUNTDISABLE, "DISABLED");
  add(UF_PASSWD_NOTREQD, "PASSWD_NOTREQD");
  add(UF_NORMAL_ACCOUNT, "NORMAL");
  add(UF_WORKSTATION_TRUST_ACCOUNT, "WORKSTATION");
  add(UF_SERVER_TRUST_ACCOUNT, "SERVER");
  add(UF_DONT_EXPIRE_PASSWD, "DONT_EXPIRE");
  return out;
}

int Show(const std::string& file) {
  qel::DomainStore::Options options;
  options.readOnly = true;  // a look changes nothing, a leftover journal included
  qel::DomainStore store(options);
  qel::DomainError error;
  if (!store.Load(file, &error)) {
    std::fprintf(stderr, "%s\n", error.ToString().c_str());
    return 1;
  }
  std::printf("Domain %s (%s), controller %s, %s\n", qel::WideToUtf8(store.NetbiosName()).c_str(),
              qel::WideToUtf8(store.DnsName()).c_str(), qel::WideToUtf8(store.ControllerName()).c_str(),
              qel::WideToUtf8(store.NamingContext()).c_str());
  std::printf("%-6s %-16s %-26s %-22s %-8s %s\n", "RID", "Account", "Full name", "Logon script", "Flags", "");
  DWORD index = 0;
  for (;;) {
    DWORD count = 0;
    PVOID buffer = nullptr;
    NET_API_STATUS status =
        store.NetQueryDisplayInformation(nullptr, 1, index, 100, MAX_PREFERRED_LENGTH, &count, &buffer);
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
      std::fprintf(stderr, "listing failed: %u\n", static_cast<unsigned>(status));
      return 1;
    }
    NET_DISPLAY_USER* users = static_cast<NET_DISPLAY_USER*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
      LPBYTE info = nullptr;
      std::string script;
      if (store.NetUserGetInfo(nullptr, users[i].usri1_name, 3, &info) == NERR_Success) {
        script = "\"" + qel::WideToUtf8(reinterpret_cast<USER_INFO_3*>(info)->usri3_script_path) + "\"";
        store.NetApiBufferFree(info);
      }
      std::printf("%-6u %-16s %-26s %-22s 0x%-6x %s\n", static_cast<unsigned>(users[i].usri1_user_id),
                  qel::WideToUtf8(users[i].usri1_name).c_str(), qel::WideToUtf8(users[i].usri1_full_name).c_str(),
                  script.c_str(), static_cast<unsigned>(users[i].usri1_flags), Flags(users[i].usri1_flags).c_str());
      index = users[i].usri1_next_index;
    }
    store.NetApiBufferFree(buffer);
    if (status == NERR_Success) break;
  }
  return 0;
}

int Generate(const char* accounts, const char* units, const std::string& file) {
  qel::GeneratedDomain shape;
  char* end;
  shape.accounts = static_cast<int>(std::strtol(accounts, &end, 10));
  if (*end || shape.accounts < 0) return Usage();
  shape.organizationalUnits = static_cast<int>(std::strtol(units, &end, 10));
  if (*end || shape.organizationalUnits < 1) return Usage();
  std::string text = qel::GenerateDomainLdif(shape);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "%s: cannot write the file\n", file.c_str());
    return 1;
  }
  std::printf("%s: %d accounts in %d units\n", file.c_str(), shape.accounts, shape.organizationalUnits);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (qel::AnswerHelpOrVersion(argc, argv, "domain-tool", kUsage, &status)) return status;
  if (argc == 3 && std::string(argv[1]) == "show") return Show(argv[2]);
  if (argc == 5 && std::string(argv[1]) == "generate") return Generate(argv[2], argv[3], argv[4]);
  return Usage();
}
