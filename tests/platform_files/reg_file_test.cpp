// The .reg text store of the host registry: parsing, writing, errors.
#include "platform/host/reg_file.h"

#include <gtest/gtest.h>

#include <string>

namespace qel::host {
namespace {

const char kSeeded[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; seeded by the administrator\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n"
    "@=\"default\"\r\n"
    "\"installpath\"=\"C:\\\\Program Files\\\\Orvane \\\"Qel\\\"\"\r\n"
    "; log level for the wizard\r\n"
    "\"NLogLevel\"=dword:0000000a\r\n"
    "\"Blob\"=hex:01,02,03,\\\r\n"
    "  04,ff\r\n"
    "\"NoNul\"=hex(1):61,62,63\r\n"
    "\"Expand\"=hex(2):25,00\r\n"
    "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters]\r\n"
    "\"Scripts\"=\"%SystemRoot%\\\\SYSVOL\\\\sysvol\\\\test.lan\\\\scripts\"\r\n"
    "; the end\r\n";

std::string Bytes(const RegValue* value) {
  return value ? std::string(value->data.begin(), value->data.end()) : "<none>";
}

TEST(ParseRegText, SeededFileWithCommentsAndContinuation) {
  RegData data;
  std::string error;
  ASSERT_TRUE(ParseRegText(kSeeded, "seed.reg", &data, &error)) << error;
  ASSERT_EQ(data.keys.size(), 2u);
  RegKey* qel = data.FindKey("hkey_local_machine\\SOFTWARE\\orvane\\QEL");
  ASSERT_NE(qel, nullptr);
  EXPECT_EQ(Bytes(RegData::FindValue(*qel, "")), std::string("default\0", 8));
  EXPECT_EQ(Bytes(RegData::FindValue(*qel, "InstallPath")), std::string("C:\\Program Files\\Orvane \"Qel\"\0", 30));
  const RegValue* level = RegData::FindValue(*qel, "nloglevel");
  ASSERT_NE(level, nullptr);
  EXPECT_EQ(level->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Bytes(level), std::string("\x0a\0\0\0", 4));
  EXPECT_EQ(level->comments, std::vector<std::string>{"; log level for the wizard"});
  EXPECT_EQ(Bytes(RegData::FindValue(*qel, "Blob")), std::string("\x01\x02\x03\x04\xff", 5));
  const RegValue* bare = RegData::FindValue(*qel, "NoNul");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(Bytes(bare), "abc");
  EXPECT_EQ(RegData::FindValue(*qel, "Expand")->type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(RegData::FindValue(*qel, "Big")->type, static_cast<DWORD>(REG_QWORD));
  EXPECT_EQ(qel->comments, std::vector<std::string>{"; seeded by the administrator"});
  EXPECT_EQ(data.trailingComments, std::vector<std::string>{"; the end"});
  // Parents of stored keys exist; siblings do not.
  EXPECT_TRUE(data.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Orvane"));
  EXPECT_FALSE(data.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Orv"));
}

TEST(ParseRegText, RoundTripKeepsValuesAndComments) {
  RegData first;
  std::string error;
  ASSERT_TRUE(ParseRegText(kSeeded, "seed.reg", &first, &error)) << error;
  std::string written = FormatRegText(first);
  RegData second;
  ASSERT_TRUE(ParseRegText(written, "written.reg", &second, &error)) << error << "\n" << written;
  EXPECT_EQ(FormatRegText(second), written);
  ASSERT_EQ(second.keys.size(), first.keys.size());
  for (size_t k = 0; k < first.keys.size(); ++k) {
    EXPECT_EQ(second.keys[k].path, first.keys[k].path);
    ASSERT_EQ(second.keys[k].values.size(), first.keys[k].values.size());
    for (size_t v = 0; v < first.keys[k].values.size(); ++v) {
      EXPECT_EQ(second.keys[k].values[v].name, first.keys[k].values[v].name);
      EXPECT_EQ(second.keys[k].values[v].type, first.keys[k].values[v].type);
      EXPECT_EQ(second.keys[k].values[v].data, first.keys[k].values[v].data);
    }
  }
  EXPECT_NE(written.find("; seeded by the administrator\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]"),
            std::string::npos);
  EXPECT_NE(written.find("\"NoNul\"=hex(1):61,62,63\r\n"), std::string::npos);
  EXPECT_NE(written.find("\"NLogLevel\"=dword:0000000a\r\n"), std::string::npos);
}

TEST(ParseRegText, LongBinaryValuesWrapAndComeBack) {
  RegData data;
  RegKey& key = data.EnsureKey("HKEY_CURRENT_USER\\Software\\QelTest");
  RegValue value;
  value.name = "Long";
  value.type = REG_BINARY;
  for (int i = 0; i < 100; ++i) value.data.push_back(static_cast<BYTE>(i));
  key.values.push_back(value);
  std::string text = FormatRegText(data);
  EXPECT_NE(text.find(",\\\r\n  "), std::string::npos);
  RegData back;
  std::string error;
  ASSERT_TRUE(ParseRegText(text, "long.reg", &back, &error)) << error;
  EXPECT_EQ(RegData::FindValue(back.keys.back(), "Long")->data, value.data);
  // The parent was stored too, ahead of its subkey.
  EXPECT_EQ(back.keys.size(), 2u);
  EXPECT_EQ(back.keys[0].path, "HKEY_CURRENT_USER\\Software");
}

TEST(ParseRegText, RemovalLinesAndEmptyFiles) {
  RegData data;
  std::string error;
  ASSERT_TRUE(ParseRegText("Windows Registry Editor Version 5.00\n[HKEY_USERS\\A\\B]\n\"x\"=\"1\"\n\"y\"=\"2\"\n"
                           "\"x\"=-\n[-HKEY_USERS\\A]\n\"ignored\"=\"3\"\n[HKEY_USERS\\C]\n",
                           "del.reg", &data, &error))
      << error;
  ASSERT_EQ(data.keys.size(), 1u);
  EXPECT_EQ(data.keys[0].path, "HKEY_USERS\\C");
  EXPECT_TRUE(ParseRegText("", "empty.reg", &data, &error));
  EXPECT_TRUE(data.keys.empty());
}

struct Malformed {
  const char* text;
  const char* problem;
  int line;
};

// UTF-16LE with its byte-order mark, as regedit saves a file.
std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST(ParseRegText, ReadsWhatRegeditExports) {
  const std::string exported =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel]\r\n"
      "\"installpath\"=\"C:\\\\Qel\"\r\n"
      "\"Path\"=hex(2):25,00,53,00,79,00,73,00,25,00,00,00\r\n"
      "\"List\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\r\n";
  RegData data;
  std::string error;
  ASSERT_TRUE(ParseRegText(Utf16(exported), "export.reg", &data, &error)) << error;
  RegKey* qel = data.FindKey("HKEY_LOCAL_MACHINE\\Software\\Orvane\\Qel");
  ASSERT_NE(qel, nullptr);
  EXPECT_EQ(Bytes(RegData::FindValue(*qel, "installpath")), std::string("C:\\Qel\0", 7));
  EXPECT_EQ(Bytes(RegData::FindValue(*qel, "Path")), std::string("%Sys%\0", 6));
  EXPECT_EQ(RegData::FindValue(*qel, "Path")->type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(Bytes(RegData::FindValue(*qel, "List")), std::string("a\0bc\0\0", 6));
  // Written back and read again, the strings are the same bytes; so are
  // 8-bit bytes that are not ASCII.
  const std::vector<BYTE> list = RegData::FindValue(*qel, "List")->data;
  qel->values.push_back(RegValue{"Latin", REG_EXPAND_SZ, {0xE9, 0x00}, {}});
  RegData again;
  ASSERT_TRUE(ParseRegText(FormatRegText(data), "again.reg", &again, &error)) << error;
  RegKey* back = again.FindKey(qel->path);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Bytes(RegData::FindValue(*back, "Path")), std::string("%Sys%\0", 6));
  EXPECT_EQ(RegData::FindValue(*back, "List")->data, list);
  EXPECT_EQ(Bytes(RegData::FindValue(*back, "Latin")), std::string("\xE9\0", 2));
  // A character that 8-bit text would have to guess at is refused with its line.
  std::string wide = Utf16("Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=\"x\"\r\n");
  wide[wide.size() - 8] = '\x4E';
  wide[wide.size() - 7] = '\x2D';  // U+2D4E in place of the x
  EXPECT_FALSE(ParseRegText(wide, "wide.reg", &data, &error));
  EXPECT_NE(error.find("wide.reg, line 3"), std::string::npos) << error;
  EXPECT_FALSE(ParseRegText(Utf16("Windows") + "x", "odd.reg", &data, &error));
}

TEST(ParseRegText, MalformedFilesNameFileLineAndProblem) {
  const Malformed cases[] = {
      {"REGEDIT 5\r\n[HKEY_USERS\\A]\r\n", "first line", 1},
      {"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\A]\r\n\"name\"=\"open\r\n", "unterminated string",
       4},
      {"Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\A]\r\n\"b\"=hex:01,zz\r\n", "bad hex", 3},
      {"Windows Registry Editor Version 5.00\r\n\"early\"=\"x\"\r\n[HKEY_USERS\\A]\r\n", "before any [key]", 2},
      {"Windows Registry Editor Version 5.00\r\n[HKEY_NOWHERE\\A]\r\n", "unknown root key", 2},
      {"Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\A\r\n", "closing", 2},
      {"Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\A]\r\n\"d\"=dword:123456789\r\n", "dword", 3},
      {"Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\A]\r\n\"c\"=hex:01,\\\r\n", "past the end", 3},
      {"Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\A]\r\nstray text\r\n", "unexpected text", 3},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.text);
    RegData data;
    data.EnsureKey("HKEY_USERS\\Kept");
    std::string error;
    EXPECT_FALSE(ParseRegText(c.text, "/srv/qel/registry.reg", &data, &error));
    EXPECT_NE(error.find("/srv/qel/registry.reg"), std::string::npos) << error;
    EXPECT_NE(error.find("line " + std::to_string(c.line) + ":"), std::string::npos) << error;
    EXPECT_NE(error.find(c.problem), std::string::npos) << error;
    EXPECT_NE(data.FindKey("HKEY_USERS\\Kept"), nullptr);  // untouched on failure
  }
}

}  // namespace
}  // namespace qel::host
