// The simulated registry: the four functions the system calls, the hooks, and
// the registry file format of the machine file.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/simulated/sim_registry.h"
#include "tests/machine_fixture.h"

namespace {

using win::HKEY_CLASSES_ROOT;
using win::HKEY_CURRENT_USER;
using win::HKEY_LOCAL_MACHINE;

constexpr std::u16string_view kHostKey = u"Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-D2A:B61";

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text, bool terminated) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminated) {
        bytes.insert(bytes.end(), {0, 0});
    }
    return bytes;
}

class RegistryTest : public MachineTest {
protected:
    win::HKEY Open(win::HKEY root, std::u16string_view subKey, win::REGSAM access,
                   win::LSTATUS expected = 0) {
        const std::u16string path(subKey);
        win::HKEY key = reinterpret_cast<win::HKEY>(std::uintptr_t{0x1234});
        EXPECT_EQ(win::RegOpenKeyExW(root, path.c_str(), 0, access, &key), expected) << Narrow(subKey);
        if (expected != 0) {
            EXPECT_EQ(key, nullptr) << "a failed open hands out no key";
        }
        return key;
    }
};

TEST_F(RegistryTest, OpenQueryAndCloseAKey) {
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", u"C:\\Mervolt");
    // Names of keys and values ignore case.
    win::HKEY key =
        Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\quorvane\\Mervolt\\v9.2\\mrvt-d2a:b61", win::KEY_QUERY_VALUE);
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(sim::OpenHandles().size(), 1U);
    EXPECT_EQ(sim::OpenHandles()[0],
              "key: HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvane\\Mervolt\\v9.2\\mrvt-d2a:b61");

    const std::vector<std::uint8_t> stored = Utf16Bytes(u"C:\\Mervolt", true);
    win::DWORD size = 0;
    win::DWORD type = 99;
    EXPECT_EQ(win::RegQueryValueExW(key, u"mrvtlocation", nullptr, &type, nullptr, &size), 0);
    EXPECT_EQ(size, stored.size());
    EXPECT_EQ(type, win::REG_SZ);

    std::vector<std::uint8_t> area(2048, 0xAB);
    size = 2048;
    EXPECT_EQ(win::RegQueryValueExW(key, u"MrvtLocation", nullptr, nullptr, area.data(), &size), 0);
    ASSERT_EQ(size, stored.size());
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), area.begin()));
    EXPECT_EQ(area[size], 0xAB) << "nothing is written past the value";

    std::vector<std::uint8_t> small(4, 0xCD);
    size = 4;
    EXPECT_EQ(win::RegQueryValueExW(key, u"MrvtLocation", nullptr, nullptr, small.data(), &size),
              static_cast<win::LSTATUS>(win::ERROR_MORE_DATA));
    EXPECT_EQ(size, stored.size()) << "the size needed";

    size = 2048;
    EXPECT_EQ(win::RegQueryValueExW(key, u"Missing", nullptr, nullptr, area.data(), &size), 2);
    EXPECT_EQ(win::RegQueryValueExW(key, u"MrvtLocation", reinterpret_cast<win::DWORD*>(area.data()), nullptr,
                                    area.data(), &size),
              87)
        << "the reserved argument must be null";

    EXPECT_EQ(win::RegCloseKey(key), 0);
    EXPECT_TRUE(sim::OpenHandles().empty());
    EXPECT_EQ(win::RegCloseKey(key), 6) << "a key is closed once";
    EXPECT_EQ(win::RegQueryValueExW(key, u"MrvtLocation", nullptr, nullptr, area.data(), &size), 6);
}

TEST_F(RegistryTest, OpeningResults) {
    sim::CreateRegistryKey(HKEY_LOCAL_MACHINE,
                           u"Software\\Classes\\Installer\\Products\\87654321DCBA10FE32547698BADCFE10");
    sim::CreateRegistryKey(HKEY_CURRENT_USER, u"Control Panel\\International");
    struct Case {
        win::HKEY root;
        std::u16string_view subKey;
        win::LSTATUS expected;
    };
    const Case cases[] = {
        // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes.
        {HKEY_CLASSES_ROOT, u"Installer\\Products\\87654321DCBA10FE32547698BADCFE10", 0},
        {HKEY_CURRENT_USER, u"Control Panel\\International", 0},
        {HKEY_CURRENT_USER, u"Control Panel\\International\\", 0},
        {HKEY_LOCAL_MACHINE, u"", 0},
        {HKEY_LOCAL_MACHINE, u"Control Panel\\International", 2},
        {HKEY_CLASSES_ROOT, u"Installer\\Products\\87654321DCBA10FE32547698BADCFE11", 2},
        {HKEY_LOCAL_MACHINE, u"Software\\\\Classes", 87},
        {HKEY_LOCAL_MACHINE, u"\\Software", 87},
        {reinterpret_cast<win::HKEY>(std::uintptr_t{0x7D000104}), u"Software", 6},
    };
    for (const Case& c : cases) {
        win::HKEY key = Open(c.root, c.subKey, win::KEY_READ, c.expected);
        if (key != nullptr) {
            EXPECT_EQ(win::RegCloseKey(key), 0);
        }
    }
    EXPECT_EQ(win::RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, win::KEY_READ, nullptr), 87);
    EXPECT_TRUE(sim::OpenHandles().empty());
    EXPECT_EQ(win::RegCloseKey(HKEY_LOCAL_MACHINE), 0) << "closing a predefined key is allowed";
}

TEST_F(RegistryTest, SubkeysOpenBelowAnOpenedKey) {
    sim::SetRegistryDword(HKEY_LOCAL_MACHINE, u"Software\\A\\B", u"Count", 7);
    win::HKEY parent = Open(HKEY_LOCAL_MACHINE, u"Software\\A", win::KEY_READ);
    win::HKEY child = Open(parent, u"b", win::KEY_QUERY_VALUE);
    win::DWORD count = 0;
    win::DWORD size = sizeof count;
    EXPECT_EQ(
        win::RegQueryValueExW(child, u"Count", nullptr, nullptr, reinterpret_cast<win::BYTE*>(&count), &size),
        0);
    EXPECT_EQ(count, 7U);
    EXPECT_EQ(sim::OpenHandles().size(), 2U);
    win::RegCloseKey(child);
    win::RegCloseKey(parent);
}

TEST_F(RegistryTest, AReadOnlyKeyRefusesWritingAccess) {
    const std::u16string products = u"Installer\\Products\\87654321DCBA10FE32547698BADCFE10";
    sim::SetRegistryString(HKEY_CLASSES_ROOT, products, u"Transforms", u":1041.mst");
    ASSERT_TRUE(sim::MakeRegistryKeyReadOnly(HKEY_CLASSES_ROOT, products));

    for (win::REGSAM writing : {win::KEY_WRITE, win::KEY_SET_VALUE, win::REGSAM{0x40000000}}) {
        Open(HKEY_CLASSES_ROOT, products, writing, 5);
    }
    EXPECT_TRUE(sim::OpenHandles().empty());
    win::HKEY key = Open(HKEY_CLASSES_ROOT, products, win::KEY_READ);
    EXPECT_EQ(win::RegDeleteValueW(key, u"Transforms"), 5);
    win::RegCloseKey(key);
    EXPECT_TRUE(sim::ReadRegistryValue(HKEY_CLASSES_ROOT, products, u"Transforms"));
}

TEST_F(RegistryTest, DeletingAValue) {
    const std::u16string products = u"Installer\\Products\\87654321DCBA10FE32547698BADCFE10";
    sim::SetRegistryString(HKEY_CLASSES_ROOT, products, u"Transforms", u":1041.mst");
    sim::SetRegistryString(HKEY_CLASSES_ROOT, products, u"ProductName", u"Mervolt");

    win::HKEY reading = Open(HKEY_CLASSES_ROOT, products, win::KEY_QUERY_VALUE);
    EXPECT_EQ(win::RegDeleteValueW(reading, u"Transforms"), 5) << "deleting needs KEY_SET_VALUE";
    win::RegCloseKey(reading);

    win::HKEY writing = Open(HKEY_CLASSES_ROOT, products, win::KEY_WRITE);
    EXPECT_EQ(win::RegDeleteValueW(writing, u"TRANSFORMS"), 0);
    EXPECT_EQ(win::RegDeleteValueW(writing, u"Transforms"), 2);
    win::RegCloseKey(writing);
    EXPECT_FALSE(sim::ReadRegistryValue(HKEY_CLASSES_ROOT, products, u"Transforms"));
    EXPECT_TRUE(sim::ReadRegistryValue(HKEY_CLASSES_ROOT, products, u"ProductName"));
    // Through the other name of the same key.
    EXPECT_FALSE(
        sim::ReadRegistryValue(HKEY_LOCAL_MACHINE, u"Software\\Classes\\" + products, u"Transforms"));
}

TEST_F(RegistryTest, ValuesComeBackAsStored) {
    struct Case {
        const char* what;
        win::DWORD type;
        std::vector<std::uint8_t> data;
    };
    const Case cases[] = {
        {"string without its NUL", win::REG_SZ, Utf16Bytes(u"C:\\Mervolt", false)},
        {"string of an odd byte count", win::REG_SZ, {0x43, 0x00, 0x3A}},
        {"unexpanded text", win::REG_EXPAND_SZ, Utf16Bytes(u"%ProgramFiles%\\Mervolt", true)},
        {"binary", win::REG_BINARY, {0x00, 0xFF, 0x10}},
        {"number", win::REG_DWORD, {0x2A, 0, 0, 0}},
        {"empty", win::REG_NONE, {}},
    };
    for (const Case& c : cases) {
        sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", c.type, c.data);
        win::HKEY key = Open(HKEY_LOCAL_MACHINE, kHostKey, win::KEY_QUERY_VALUE);
        std::vector<std::uint8_t> area(64, 0xAB);
        win::DWORD size = static_cast<win::DWORD>(area.size());
        win::DWORD type = 99;
        EXPECT_EQ(win::RegQueryValueExW(key, u"MrvtLocation", nullptr, &type, area.data(), &size), 0)
            << c.what;
        EXPECT_EQ(type, c.type) << c.what;
        ASSERT_EQ(size, c.data.size()) << c.what;
        EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), area.begin())) << c.what;
        EXPECT_EQ(area[size], 0xAB) << c.what << ": no terminator is added";
        win::RegCloseKey(key);
    }
}

TEST_F(RegistryTest, AHandleOnADeletedKeyFails) {
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", u"C:\\Mervolt");
    win::HKEY key = Open(HKEY_LOCAL_MACHINE, kHostKey, win::KEY_READ | win::KEY_WRITE);
    ASSERT_TRUE(sim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, u"Software\\Quorvane"));
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kHostKey));
    win::DWORD size = 0;
    EXPECT_EQ(win::RegQueryValueExW(key, u"MrvtLocation", nullptr, nullptr, nullptr, &size), 1018);
    EXPECT_EQ(win::RegDeleteValueW(key, u"MrvtLocation"), 1018);
    EXPECT_EQ(win::RegCloseKey(key), 0);
}

TEST_F(RegistryTest, InjectedFaults) {
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", u"C:\\Mervolt");
    sim::InjectFault("RegOpenKeyExW", 1);
    sim::InjectFault("RegOpenKeyExW", 2, 2);
    Open(HKEY_LOCAL_MACHINE, kHostKey, win::KEY_QUERY_VALUE, 5);
    Open(HKEY_LOCAL_MACHINE, kHostKey, win::KEY_QUERY_VALUE, 2);
    win::HKEY key = Open(HKEY_LOCAL_MACHINE, kHostKey, win::KEY_QUERY_VALUE);
    sim::InjectFault("RegQueryValueExW", 1, 1450);
    std::vector<std::uint8_t> area(64);
    win::DWORD size = 64;
    EXPECT_EQ(win::RegQueryValueExW(key, u"MrvtLocation", nullptr, nullptr, area.data(), &size), 1450);
    EXPECT_EQ(sim::CallCount("RegOpenKeyExW"), 3U);
    EXPECT_EQ(sim::OpenHandles().size(), 1U);
    win::RegCloseKey(key);
    EXPECT_EQ(sim::CallCount("RegCloseKey"), 1U);
}

// ---- The registry file ------------------------------------------------------

// A registry with every kind of value the writer has a form for.
void FillVariedRegistry() {
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", u"C:\\Program Files\\\"Mervolt\"");
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"", u"default text");
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"Name \"quoted\"",
                           u"\u30b5\u30fc\u30d3\u30b9 \U0001F600");
    sim::SetRegistryDword(HKEY_CLASSES_ROOT, u"Installer\\Products\\87654321DCBA10FE32547698BADCFE10",
                          u"Language", 1041);
    sim::SetRegistryString(HKEY_CLASSES_ROOT, u"Installer\\Products\\87654321DCBA10FE32547698BADCFE10",
                           u"Transforms", u":1041.mst");
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Unterminated", win::REG_SZ,
                          Utf16Bytes(u"C:\\Host", false));
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Two lines", win::REG_SZ,
                          Utf16Bytes(u"a\r\nb", true));
    sim::SetRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"Expandable", u"%windir%\\x", win::REG_EXPAND_SZ);
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"List", win::REG_MULTI_SZ,
                          Utf16Bytes(std::u16string_view(u"a\0b\0", 4), true));
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Quad", win::REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    std::vector<std::uint8_t> blob(100);
    for (std::size_t i = 0; i < blob.size(); ++i) {
        blob[i] = static_cast<std::uint8_t>(i * 7);
    }
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Blob", win::REG_BINARY, blob);
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Nothing", win::REG_NONE, {});
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Odd type", 0x20000, {9});
    sim::SetRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Short dword", win::REG_DWORD, {1, 2});
    sim::CreateRegistryKey(HKEY_LOCAL_MACHINE, u"Software\\Empty\\Key");
    sim::SetRegistryString(HKEY_CURRENT_USER, u"Control Panel\\International", u"Locale", u"00000411");
}

TEST_F(RegistryTest, TheFileTextLoadsBackToTheSameRegistry) {
    FillVariedRegistry();
    const std::string text = sim::RegistryFileText();
    const auto before = sim::ReadRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Blob");

    sim::ResetMachine(sandbox_.string());
    ASSERT_FALSE(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kHostKey));
    std::string error;
    ASSERT_TRUE(sim::LoadRegistryFileText(text, error)) << error;
    EXPECT_EQ(sim::RegistryFileText(), text);

    const auto after = sim::ReadRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Blob");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->data, before->data);
    EXPECT_EQ(sim::ReadRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Unterminated")->data,
              Utf16Bytes(u"C:\\Host", false));
    EXPECT_EQ(sim::ReadRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"Name \"quoted\""),
              u"\u30b5\u30fc\u30d3\u30b9 \U0001F600");
    EXPECT_EQ(sim::ReadRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Odd type")->type, 0x20000U);
    EXPECT_TRUE(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, u"Software\\Empty\\Key"));
}

TEST_F(RegistryTest, TheFileTextUsesTheStandardForms) {
    FillVariedRegistry();
    const std::string text = sim::RegistryFileText();
    const char* expectedLines[] = {
        "Windows Registry Editor Version 5.00\n\n",
        "\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer\\Products\\87654321DCBA10FE32547698BADCFE10]\n",
        "\n\"Language\"=dword:00000411\n",
        "\n@=\"default text\"\n",
        "\n\"MrvtLocation\"=\"C:\\\\Program Files\\\\\\\"Mervolt\\\"\"\n",
        "\n\"Name \\\"quoted\\\"\"=\"\xE3\x82\xB5\xE3\x83\xBC\xE3\x83\x93\xE3\x82\xB9 \xF0\x9F\x98\x80\"\n",
        "\n\"Unterminated\"=hex(1):43,00,3a,00,5c,00,48,00,6f,00,73,00,74,00\n",
        "\n\"Expandable\"=hex(2):25,00,",
        "\n\"Quad\"=hex(b):01,02,03,04,05,06,07,08\n",
        "\n\"Nothing\"=hex(0):\n",
        "\n\"Short dword\"=hex(4):01,02\n",
        "\n\"Blob\"=hex:00,07,0e,",
        ",\\\n  ",
        "\n[HKEY_LOCAL_MACHINE\\Software\\Empty\\Key]\n\n",
        "\n[HKEY_CURRENT_USER\\Control Panel\\International]\n\"Locale\"=\"00000411\"\n",
    };
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0U);
    for (const char* line : expectedLines) {
        EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << text;
    }
}

TEST_F(RegistryTest, AHandWrittenFileLoads) {
    const std::string file =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; the host application\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-D2A:B61]\r\n"
        "\"MrvtLocation\" = \"C:\\\\Mervolt\"\r\n"
        "\"Gone\"=\"x\"\r\n"
        "\"Gone\"=-\r\n"
        "\"Data\"=HEX:0A,0b,\\\r\n"
        "    0c\r\n"
        "\r\n"
        "[HKEY_CLASSES_ROOT\\Installer\\Products\\87654321DCBA10FE32547698BADCFE10]\r\n"
        "\"Version\"=dword:7000043\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Removed\\Child]\r\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\Removed]\r\n";
    std::string error;
    ASSERT_TRUE(sim::LoadRegistryFileText(file, error)) << error;
    EXPECT_EQ(sim::ReadRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation"), u"C:\\Mervolt");
    EXPECT_FALSE(sim::ReadRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Gone"));
    EXPECT_EQ(sim::ReadRegistryValue(HKEY_LOCAL_MACHINE, kHostKey, u"Data")->data,
              (std::vector<std::uint8_t>{0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(sim::ReadRegistryDword(
                  HKEY_LOCAL_MACHINE,
                  u"Software\\Classes\\Installer\\Products\\87654321DCBA10FE32547698BADCFE10", u"Version"),
              0x7000043U);
    EXPECT_FALSE(sim::RegistryKeyExists(HKEY_LOCAL_MACHINE, u"Software\\Removed"));
}

TEST_F(RegistryTest, RegeditsOwnUtf16FilesLoad) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\International]\r\n"
        u"\"sCountry\"=\"\u65e5\u672c\"\r\n";
    std::string file = "\xFF\xFE";
    for (char16_t c : text) {
        file.push_back(static_cast<char>(c & 0xFF));
        file.push_back(static_cast<char>(c >> 8));
    }
    std::string error;
    ASSERT_TRUE(sim::LoadRegistryFileText(file, error)) << error;
    EXPECT_EQ(sim::ReadRegistryString(HKEY_CURRENT_USER, u"Control Panel\\International", u"sCountry"),
              u"\u65e5\u672c");
}

TEST_F(RegistryTest, MalformedFilesAreRefusedAndChangeNothing) {
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string key = "[HKEY_LOCAL_MACHINE\\Software\\X]\n";
    struct Case {
        std::string file;
        std::string error;
    };
    const Case cases[] = {
        {"", "empty"},
        {"REGEDIT4\n\n" + key, "line 1: the file does not start with"},
        {header + "\"a\"=\"b\"\n", "line 3: value outside a key"},
        {header + "[HKEY_NOWHERE\\Software]\n", "line 3: unknown root key \"HKEY_NOWHERE\""},
        {header + "[HKEY_LOCAL_MACHINE\\Software\n", "line 3: key name without its closing ]"},
        {header + key + "\"a\"=\"b\n", "line 4: quoted text without its closing quote"},
        {header + key + "\"a\"=\"b\\n\"\n", "line 4: unknown escape"},
        {header + key + "\"a\"=\"b\" junk\n", "line 4: text after the closing quote"},
        {header + key + "\"a\" \"b\"\n", "line 4: value name not followed by ="},
        {header + key + "\"a\"=dword:xyz\n", "line 4: dword: needs one to eight hexadecimal digits"},
        {header + key + "\"a\"=dword:123456789\n", "line 4: dword:"},
        {header + key + "\"a\"=hex:01,1g\n", "line 4: malformed hex bytes"},
        {header + key + "\"a\"=hex:01,,02\n", "line 4: malformed hex bytes"},
        {header + key + "\"a\"=hex:100\n", "line 4: malformed hex bytes"},
        {header + key + "\"a\"=hex(zz):00\n", "line 4: hex(...) needs a hexadecimal type number"},
        {header + key + "\"a\"=hex:01,\\", "line 4: continued hex data at the end of the file"},
        {header + key + "\"a\"=text\n", "line 4: unknown kind of value data"},
        {header + key + "garbage\n", "line 4: neither a key nor a value"},
        {header + "[-HKEY_LOCAL_MACHINE]\n", "line 3: a root key cannot be removed"},
    };
    for (const Case& c : cases) {
        sim::ResetMachine(sandbox_.string());
        sim::SetRegistryString(HKEY_LOCAL_MACHINE, kHostKey, u"MrvtLocation", u"C:\\Mervolt");
        const std::string before = sim::RegistryFileText();
        std::string error;
        EXPECT_FALSE(sim::LoadRegistryFileText(c.file, error)) << c.file;
        EXPECT_NE(error.find(c.error), std::string::npos) << "got \"" << error << "\" for:\n" << c.file;
        EXPECT_EQ(sim::RegistryFileText(), before);
    }
}

}  // namespace
