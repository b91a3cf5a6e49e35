#include "platform/samba/smb_conf.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/domain/domain_text.h"

namespace qel {

namespace {

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

// Parameter names match without regard to case or blanks ("netbios name" is "NetBIOSName").
std::string Key(const std::string& text) {
  std::string key;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '_') key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

}  // namespace

std::string SambaConfig::DnsDomain() const { return AsciiLower(realm); }

std::string SambaConfig::LdapiSocket() const { return privateDir + "/ldap_priv/ldapi"; }

bool ParseSambaConfig(const std::string& text, const std::string& name, SambaConfig* config, std::string* error) {
  SambaConfig result;
  result.privateDir = "/var/lib/samba/private";
  bool haveNetlogon = false;
  std::istringstream in(text);
  std::string line, section;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    int first = number;
    // A backslash at the end joins the next line.
    while (!line.empty() && Trim(line).size() > 0 && Trim(line).back() == '\\') {
      std::string trimmed = Trim(line);
      trimmed.pop_back();
      std::string next;
      if (!std::getline(in, next)) {
        line = trimmed;
        break;
      }
      ++number;
      line = trimmed + next;
    }
    std::string content = Trim(line);
    if (content.empty() || content[0] == '#' || content[0] == ';') continue;
    if (content[0] == '[') {
      size_t close = content.find(']');
      if (close == std::string::npos) {
        *error = name + ":" + std::to_string(first) + ": a section name without its \"]\"";
        return false;
      }
      section = AsciiLower(Trim(content.substr(1, close - 1)));
      if (section == "netlogon") haveNetlogon = true;
      continue;
    }
    size_t equals = content.find('=');
    if (equals == std::string::npos) {
      *error = name + ":" + std::to_string(first) + ": not a \"name = value\" line";
      return false;
    }
    std::string key = Key(content.substr(0, equals));
    std::string value = Trim(content.substr(equals + 1));
    if (section == "global") {
      if (key == "netbiosname") result.netbiosName = Upper(value);
      else if (key == "workgroup") result.workgroup = Upper(value);
      else if (key == "realm") result.realm = Upper(value);
      else if (key == "privatedir") result.privateDir = value;
      else if (key == "serverrole") result.serverRole = AsciiLower(value);
    } else if (section == "netlogon" && key == "path") {
      result.netlogonPath = value;
    }
  }
  const char* missing = nullptr;
  if (result.serverRole != "active directory domain controller" && result.serverRole != "domain controller" &&
      result.serverRole != "dc")
    missing = "\"server role = active directory domain controller\" in [global]";
  else if (result.netbiosName.empty()) missing = "\"netbios name\" in [global]";
  else if (result.workgroup.empty()) missing = "\"workgroup\" in [global]";
  else if (result.realm.empty()) missing = "\"realm\" in [global]";
  else if (!haveNetlogon || result.netlogonPath.empty()) missing = "a [netlogon] share with its \"path\"";
  if (missing) {
    *error = name + ": not the configuration of a domain controller: no " + std::string(missing);
    return false;
  }
  while (result.netlogonPath.size() > 1 && result.netlogonPath.back() == '/') result.netlogonPath.pop_back();
  *config = result;
  return true;
}

bool LoadSambaConfig(const std::string& path, SambaConfig* config, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseSambaConfig(text.str(), path, config, error);
}

}  // namespace qel
