#include "platform/domain/domain_generator.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace qel {

namespace {

const char kContext[] = "DC=test,DC=lan";
const char kPerson[] = "CN=Person,CN=Schema,CN=Configuration,DC=test,DC=lan";

void Append(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string* out, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  if (n > 0) out->append(line, static_cast<size_t>(n) < sizeof(line) ? static_cast<size_t>(n) : sizeof(line) - 1);
}

}  // namespace

std::string GenerateDomainLdif(const GeneratedDomain& shape) {
  std::string out;
  int units = shape.organizationalUnits > 0 ? shape.organizationalUnits : 1;
  out.reserve(static_cast<size_t>(shape.accounts) * 420 + static_cast<size_t>(units) * 200 + 4096);
  out += "# qel-domain: TEST\n# qel-controller: DC1\n# qel-dns: test.lan\n\n";
  Append(&out,
         "dn: %s\nobjectClass: top\nobjectClass: domain\nobjectClass: domainDNS\ndc: test\n"
         "objectCategory: CN=Domain-DNS,CN=Schema,CN=Configuration,%s\n\n",
         kContext, kContext);
  Append(&out,
         "dn: CN=Users,%s\nobjectClass: top\nobjectClass: container\ncn: Users\n"
         "objectCategory: CN=Container,CN=Schema,CN=Configuration,%s\n\n",
         kContext, kContext);
  Append(&out,
         "dn: CN=Domain Users,CN=Users,%s\nobjectClass: top\nobjectClass: group\ncn: Domain Users\n"
         "sAMAccountName: Domain Users\nobjectCategory: CN=Group,CN=Schema,CN=Configuration,%s\n\n",
         kContext, kContext);
  Append(&out,
         "dn: OU=Domain Controllers,%s\nobjectClass: top\nobjectClass: organizationalUnit\n"
         "ou: Domain Controllers\nobjectCategory: CN=Organizational-Unit,CN=Schema,CN=Configuration,%s\n\n",
         kContext, kContext);
  Append(&out,
         "dn: CN=DC1,OU=Domain Controllers,%s\nobjectClass: top\nobjectClass: person\n"
         "objectClass: organizationalPerson\nobjectClass: user\nobjectClass: computer\ncn: DC1\n"
         "sAMAccountName: DC1$\nuserAccountControl: 532480\n"
         "objectCategory: CN=Computer,CN=Schema,CN=Configuration,%s\n\n",
         kContext, kContext);

  // Twenty top units (fewer for small domains); the others below them in turn.
  int tops = units < 20 ? units : 20;
  std::vector<std::string> unitDns;
  for (int u = 0; u < units; ++u) {
    char name[32];
    std::snprintf(name, sizeof(name), "Unit%04d", u + 1);
    std::string dn = u < tops ? std::string("OU=") + name + "," + kContext
                              : std::string("OU=") + name + "," + unitDns[static_cast<size_t>(u % tops)];
    Append(&out,
           "dn: %s\nobjectClass: top\nobjectClass: organizationalUnit\nou: %s\n"
           "objectCategory: CN=Organizational-Unit,CN=Schema,CN=Configuration,%s\n\n",
           dn.c_str(), name, kContext);
    unitDns.push_back(dn);
  }
  for (int i = 0; i < shape.accounts; ++i) {
    const std::string& unit = unitDns[static_cast<size_t>(i % units)];
    char sam[32];
    std::snprintf(sam, sizeof(sam), "user%06d", i + 1);
    Append(&out,
           "dn: CN=User %06d,%s\nobjectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
           "objectClass: user\ncn: User %06d\ndisplayName: User %06d\nsAMAccountName: %s\n"
           "objectCategory: %s\nuserAccountControl: %d\nprofilePath: \\\\DC1\\profiles\\%s\n",
           i + 1, unit.c_str(), i + 1, i + 1, sam, kPerson, 512 | (i % 2), sam);
    if (shape.ownScriptEvery > 0 && i % shape.ownScriptEvery == 0) Append(&out, "scriptPath: logon%d.bat\n", i % 7);
    out += "\n";
  }
  return out;
}

}  // namespace qel
