// The host registry over registry.reg: the REGEDIT4 grammar, Windows error
// codes, protection, and what several processes see and keep.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/host/machine/machine.h"
#include "platform/host/registry/internal.h"
#include "platform/host/registry/store.h"
#include "platform/win.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Replaces a file the way an editor saving it would (a new inode).
void WriteText(const fs::path &p, const std::string &text) {
    fs::path tmp = p;
    tmp += ".new";
    std::ofstream(tmp, std::ios::binary) << text;
    fs::rename(tmp, p);
}

std::string Err(LONG rc) { return std::string("!").append(std::to_string(rc)); }

// The data of a value as bytes, or "!<error>".
std::string Get(const std::string &key, const std::string &name, DWORD *type = nullptr) {
    HKEY h;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h);
    if (rc) return Err(rc);
    char buf[4096];
    DWORD size = sizeof buf;
    rc = RegQueryValueExA(h, name.c_str(), nullptr, type, reinterpret_cast<BYTE *>(buf), &size);
    RegCloseKey(h);
    return rc ? Err(rc) : std::string(buf, size);
}

LONG Set(const std::string &key, const std::string &name, const std::string &data, DWORD type = REG_SZ) {
    HKEY h;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (rc) return rc;
    rc = RegSetValueExA(h, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(data.data()),
                        static_cast<DWORD>(data.size()));
    RegCloseKey(h);
    return rc;
}

std::string Sz(const std::string &s) { return s + '\0'; }

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    fs::path RegFile() const { return machine_.Dir() / "registry.reg"; }
    void WriteRegistry(const std::string &text) { WriteText(RegFile(), text); }
    // A registry past 64 KiB: changes go to the journal instead of
    // rewriting registry.reg.
    void MakeLarge() { ASSERT_EQ(Set("Software\\Filler", "pad", std::string(30000, 'p'), REG_BINARY), 0); }

    test::TestMachine machine_;
};

// --- Grammar -----------------------------------------------------------------

struct GrammarCase {
    const char *what;
    const char *body;  // after "REGEDIT4\n\n" unless it starts with '!' (whole file)
    const char *key;
    const char *name;
    DWORD type;
    std::string data;  // expected bytes, or "!2" for a missing value or key
};

const GrammarCase kGrammar[] = {
    {"plain string gets its terminator", "[HKEY_LOCAL_MACHINE\\S]\n\"s\"=\"abc\"\n", "S", "s", REG_SZ, Sz("abc")},
    {"escaped backslash and quote", "[HKEY_LOCAL_MACHINE\\S]\n\"p\"=\"C:\\\\D \\\"q\\\"\"\n", "S", "p", REG_SZ,
     Sz("C:\\D \"q\"")},
    {"escaped quote in a name", "[HKEY_LOCAL_MACHINE\\S]\n\"a\\\"b\"=\"1\"\n", "S", "a\"b", REG_SZ, Sz("1")},
    {"default value", "[HKEY_LOCAL_MACHINE\\S]\n@=\"d\"\n", "S", "", REG_SZ, Sz("d")},
    {"dword is little-endian", "[HKEY_LOCAL_MACHINE\\S]\n\"n\"=dword:0000000a\n", "S", "n", REG_DWORD,
     std::string("\x0a\0\0\0", 4)},
    {"short upper-case dword", "[HKEY_LOCAL_MACHINE\\S]\n\"n\"=DWORD:FF\n", "S", "n", REG_DWORD,
     std::string("\xff\0\0\0", 4)},
    {"hex is REG_BINARY", "[HKEY_LOCAL_MACHINE\\S]\n\"b\"=hex:01,02\n", "S", "b", REG_BINARY, "\x01\x02"},
    {"empty hex", "[HKEY_LOCAL_MACHINE\\S]\n\"b\"=hex:\n", "S", "b", REG_BINARY, ""},
    {"hex(N) keeps its type", "[HKEY_LOCAL_MACHINE\\S]\n\"e\"=hex(2):25,00\n", "S", "e", REG_EXPAND_SZ, Sz("%")},
    {"hex continued over lines", "[HKEY_LOCAL_MACHINE\\S]\n\"b\"=hex:01,02,\\\n  03,\\\n  04\n", "S", "b",
     REG_BINARY, "\x01\x02\x03\x04"},
    {"CRLF lines and continuation", "!REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"b\"=hex:0a,\\\r\n  0b\r\n", "S",
     "b", REG_BINARY, "\x0a\x0b"},
    {"byte order mark and comments", "!\xEF\xBB\xBFREGEDIT4\n; note\n[HKEY_LOCAL_MACHINE\\S]\n\"s\"=\"x\"\n", "S", "s",
     REG_SZ, Sz("x")},
    {"[-KEY] removes the subtree", "[HKEY_LOCAL_MACHINE\\S\\T]\n\"s\"=\"x\"\n[-HKEY_LOCAL_MACHINE\\S]\n", "S\\T", "s",
     0, "!2"},
    {"[-KEY] of a missing key is a no-op", "[-HKEY_LOCAL_MACHINE\\Nope]\n[HKEY_LOCAL_MACHINE\\S]\n\"s\"=\"x\"\n", "S",
     "s", REG_SZ, Sz("x")},
    {"\"name\"=- removes a value", "[HKEY_LOCAL_MACHINE\\S]\n\"s\"=\"x\"\n\"s\"=-\n", "S", "s", 0, "!2"},
    {"a later section adds to a key", "[HKEY_LOCAL_MACHINE\\S]\n\"a\"=\"1\"\n[HKEY_CURRENT_USER\\X]\n"
                                      "[HKEY_LOCAL_MACHINE\\s]\n\"b\"=\"2\"\n",
     "S", "b", REG_SZ, Sz("2")},
};

TEST_F(RegistryTest, GrammarCases) {
    for (const GrammarCase &c : kGrammar) {
        SCOPED_TRACE(c.what);
        machine_.Create("2000");
        std::string body = c.body;
        WriteRegistry(body[0] == '!' ? body.substr(1) : "REGEDIT4\n\n" + body);
        DWORD type = 0;
        EXPECT_EQ(Get(c.key, c.name, &type), c.data);
        if (c.data[0] != '!') {
            EXPECT_EQ(type, c.type);
        }
    }
}

// Files the store must refuse, untouched.
const std::pair<const char *, const char *> kMalformed[] = {
    {"no header", "[HKEY_LOCAL_MACHINE\\S]\n\"s\"=\"x\"\n"},
    {"other header", "Windows Registry Editor\n\n[HKEY_LOCAL_MACHINE\\S]\n"},
    {"bad dword", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"n\"=dword:xyz\n"},
    {"dword of 9 digits", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"n\"=dword:000000001\n"},
    {"unterminated string", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"s\"=\"abc\n"},
    {"unknown root", "REGEDIT4\n\n[HKEY_NOWHERE\\S]\n"},
    {"hex byte too long", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"b\"=hex:1ff\n"},
    {"value before any key", "REGEDIT4\n\n\"s\"=\"x\"\n"},
    {"continuation at the end", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n\"b\"=hex:01,\\\n"},
    {"section without ]", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S\n"},
    {"root key removal", "REGEDIT4\n\n[-HKEY_LOCAL_MACHINE]\n"},
};

TEST_F(RegistryTest, MalformedFileIsRefusedReportedOnceAndKept) {
    for (const auto &[what, text] : kMalformed) {
        SCOPED_TRACE(what);
        machine_.Create("2000");
        WriteRegistry(text);
        testing::internal::CaptureStderr();
        HKEY h;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "S", 0, KEY_READ, &h), ERROR_BADDB);
        EXPECT_EQ(Set("S", "new", "v"), ERROR_BADDB);
        EXPECT_EQ(host::RegistryCompact(), ERROR_BADDB);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_EQ(ReadText(RegFile()), text);
        EXPECT_FALSE(fs::exists(machine_.Dir() / "registry.reg.log"));
    }
}

// What the store writes is regedit's format and reads back byte for byte.
TEST_F(RegistryTest, WrittenFileIsRegeditFormatAndRoundTrips) {
    std::string binary;
    for (int i = 0; i < 30; ++i) binary += static_cast<char>(i);
    const std::vector<std::tuple<std::string, DWORD, std::string>> values = {
        {"Path", REG_SZ, Sz("C:\\ZAV \"1.1\"")},
        {"", REG_SZ, Sz("default")},
        {"Count", REG_DWORD, std::string("\x0a\0\0\0", 4)},
        {"Blob", REG_BINARY, binary},
        {"NoNul", REG_SZ, "ab"},  // not a plain string: kept as hex(1)
        {"Lines", REG_SZ, Sz("a\nb")},
        {"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
        {"Short", REG_DWORD, "\x01"},
    };
    for (const auto &[name, type, data] : values) ASSERT_EQ(Set("Software\\ZAV", name, data, type), 0);
    ASSERT_EQ(host::RegistryCompact(), 0);
    EXPECT_FALSE(fs::exists(machine_.Dir() / "registry.reg.log"));
    EXPECT_EQ(ReadText(RegFile()),
              "REGEDIT4\n\n"
              "[HKEY_LOCAL_MACHINE\\Software]\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\ZAV]\n"
              "\"Path\"=\"C:\\\\ZAV \\\"1.1\\\"\"\n"
              "@=\"default\"\n"
              "\"Count\"=dword:0000000a\n"
              "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
              "  16,17,18,19,1a,1b,1c,1d\n"
              "\"NoNul\"=hex(1):61,62\n"
              "\"Lines\"=hex(1):61,0a,62,00\n"
              "\"Multi\"=hex(7):61,00,62,00,00\n"
              "\"Short\"=hex(4):01\n\n");

    test::TestMachine other;  // a fresh process's view: only the file
    other.Create("2000");
    fs::copy_file(machine_.Dir() / "registry.reg", other.Dir() / "registry.reg");
    for (const auto &[name, type, data] : values) {
        DWORD got = 0;
        EXPECT_EQ(Get("SOFTWARE\\zav", name, &got), data) << name;
        EXPECT_EQ(got, type) << name;
    }
}

// A small registry is rewritten whole on every change, so registry.reg may be
// edited by hand between runs without losing what the API wrote.
TEST_F(RegistryTest, SmallRegistryKeepsHandEditsAndApiChanges) {
    ASSERT_EQ(Set("Software\\App", "api", Sz("1")), 0);
    std::ofstream(RegFile(), std::ios::app) << "[HKEY_LOCAL_MACHINE\\Software\\App]\n\"hand\"=\"2\"\n\n";
    EXPECT_EQ(Get("Software\\App", "api"), Sz("1"));
    EXPECT_EQ(Get("Software\\App", "hand"), Sz("2"));
    EXPECT_FALSE(fs::exists(machine_.Dir() / "registry.reg.log"));
}

// --- Error codes -------------------------------------------------------------

TEST_F(RegistryTest, ErrorCodesBufferSizesAndCase) {
    ASSERT_EQ(Set("Software\\MyApp\\Sub", "", ""), 0);
    ASSERT_EQ(Set("Software\\MyApp", "Name", Sz("a")), 0);
    ASSERT_EQ(Set("software\\MYAPP", "NAME", Sz("value")), 0);  // the same value, its case kept
    HKEY h;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Nope", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\myapp", 0, KEY_READ, &h), 0);
    EXPECT_EQ(RegQueryValueExA(h, "Other", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "name", nullptr, &type, nullptr, &size), 0);  // size only
    EXPECT_EQ(size, 6u);
    BYTE buf[16];
    size = 5;  // one short
    EXPECT_EQ(RegQueryValueExA(h, "Name", nullptr, nullptr, buf, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    char name[8];
    DWORD cch = 4;  // "Name" needs 5 with its terminator
    EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    cch = sizeof name;
    EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(name, "Name");
    EXPECT_EQ(RegEnumValueA(h, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    cch = 3;  // "Sub" needs 4
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    cch = 4;
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(cch, 3u);
    EXPECT_EQ(RegEnumKeyExA(h, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(h);
    EXPECT_EQ(RegQueryValueExA(h, "Name", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);  // closed
}

struct DeleteCase {
    const char *what;
    const char *os;
    const char *target;  // under HKLM\Software
    LONG result;
};

// Software\Tree\Mid\Leaf with Software\Tree\Mid\Leaf\Guard protected.
const DeleteCase kDeletes[] = {
    {"NT refuses a key with subkeys", "2000", "Tree", ERROR_ACCESS_DENIED},
    {"9x deletes the whole subtree", "98", "Tree\\Other", 0},
    {"9x refuses a subtree holding a protected key", "98", "Tree", ERROR_ACCESS_DENIED},
    {"a protected key itself", "98", "Tree\\Mid\\Leaf\\Guard", ERROR_ACCESS_DENIED},
    {"protected key on NT", "2000", "Tree\\Mid\\Leaf\\Guard", ERROR_ACCESS_DENIED},
    {"NT deletes a leaf", "2000", "Tree\\Other\\Twig", 0},
    {"missing key", "2000", "Tree\\Nope", ERROR_FILE_NOT_FOUND},
};

TEST_F(RegistryTest, DeleteRulesAndProtection) {
    for (const DeleteCase &c : kDeletes) {
        SCOPED_TRACE(c.what);
        machine_.Create(c.os);
        WriteText(machine_.Dir() / "registry.protected",
                  "HKEY_LOCAL_MACHINE\\SOFTWARE\\tree\\Mid\\Leaf\\guard\r\n");
        ASSERT_EQ(Set("Software\\Tree\\Mid\\Leaf\\Guard", "v", Sz("1")), ERROR_ACCESS_DENIED);
        ASSERT_EQ(Set("Software\\Tree\\Other\\Twig", "v", Sz("1")), 0);
        std::string before = Get("Software\\Tree\\Other\\Twig", "v");
        EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\" + std::string(c.target)).c_str()), c.result);
        HKEY h;
        if (c.result != 0) {  // a refusal changes nothing
            EXPECT_EQ(Get("Software\\Tree\\Other\\Twig", "v"), before);
            EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tree\\Mid\\Leaf\\Guard", 0, KEY_READ, &h), 0);
        } else {
            EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\" + std::string(c.target)).c_str(), 0, KEY_READ,
                                    &h),
                      ERROR_FILE_NOT_FOUND);
        }
    }
}

TEST_F(RegistryTest, ProtectedValuesCannotChangeAndDeletedHandlesAreDead) {
    ASSERT_EQ(Set("Software\\Guard", "v", Sz("1")), 0);
    ASSERT_EQ(Set("Software\\Open", "Locked", Sz("1")), 0);
    WriteText(machine_.Dir() / "registry.protected",
              "HKEY_LOCAL_MACHINE\\Software\\Guard\nHKEY_LOCAL_MACHINE\\Software\\Open\\\"locked\"\n");
    HKEY guard, gone, child;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Guard", 0, KEY_ALL_ACCESS, &guard), 0);
    EXPECT_EQ(RegSetValueExA(guard, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>("2"), 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(guard, "v"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get("Software\\Guard", "v"), Sz("1"));
    // A protected value pins itself and its key, not its neighbours.
    EXPECT_EQ(Set("Software\\Open", "LOCKED", Sz("2")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Open"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Set("Software\\Open", "other", Sz("2")), 0);

    ASSERT_EQ(Set("Software\\Gone\\Child", "v", Sz("1")), 0);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Gone", 0, KEY_ALL_ACCESS, &gone), 0);
    ASSERT_EQ(RegOpenKeyExA(gone, "Child", 0, KEY_ALL_ACCESS, &child), 0);
    EXPECT_EQ(RegDeleteKeyA(gone, "Child"), 0);
    EXPECT_EQ(RegDeleteValueA(gone, "missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(child, "v", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    ASSERT_EQ(Set("Software\\Gone\\Child", "v", Sz("new")), 0);  // a new key of the same name
    EXPECT_EQ(RegSetValueExA(child, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>("x"), 2), ERROR_KEY_DELETED);
    char name[8];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(child, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(child), 0);
    for (HKEY k : {guard, gone}) RegCloseKey(k);
}

TEST_F(RegistryTest, WithoutMachineEveryCallFails) {
    unsetenv("ZAV_MACHINE");
    host::ReloadMachine();
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>("1"), 2),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(host::RegistryCompact(), ERROR_FILE_NOT_FOUND);
}

// --- Several processes ------------------------------------------------------

// Mended: what is on disk is the whole registry once a process is done with
// it, so an edit of registry.reg between runs loses nothing; only a crash
// leaves a journal, which the next process, and `zav-machine show`, take up.
TEST_F(RegistryTest, AProcessFoldsItsJournalInBeforeItEnds) {
    machine_.CreateWithTool("--os 2000 --old-version");
    MakeLarge();
    fs::path log = machine_.Dir() / "registry.reg.log";
    auto run = test::Run("env ZAV_FRONTEND=noninteractive " + std::string(ZAV_BUILD_DIR) + "/zav-machine run " +
                         machine_.Dir().string() + " 'C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE' 2>&1");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_FALSE(fs::exists(log)) << "the program journalled its removals and folded them in";
    EXPECT_EQ(ReadText(RegFile()).find("\"SalvSA\""), std::string::npos);
    EXPECT_NE(ReadText(RegFile()).find("\"ZV_UPDATE\""), std::string::npos);

    if (pid_t pid = fork(); pid == 0) _exit(Set("Software\\App", "crashed", Sz("1")));  // killed after its change
    int status = -1;
    wait(&status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(fs::exists(log));
    auto show = test::Run(std::string(ZAV_BUILD_DIR) + "/zav-machine show " + machine_.Dir().string() + " 2>&1");
    EXPECT_NE(show.out.find("\"crashed\"=\"1\""), std::string::npos) << "show sees the program's registry";
    EXPECT_EQ(host::RegistryFinish(), 0);
    EXPECT_FALSE(fs::exists(log));
    EXPECT_NE(ReadText(RegFile()).find("\"crashed\"=\"1\""), std::string::npos);
}

// Another process that keeps its cached registry between questions, as an
// installer running beside the update would. Answers lose the string's NUL.
class Reader {
public:
    Reader() {
        if (pipe(ask_) != 0 || pipe(answer_) != 0 || (pid_ = fork()) < 0) ADD_FAILURE() << "pipe or fork";
        if (pid_ != 0) return;
        char line[1024];
        for (FILE *in = fdopen(ask_[0], "r"); fgets(line, sizeof line, in);) {
            std::string q(line, strcspn(line, "\n"));
            std::string v = Get(q.substr(0, q.find('|')), q.substr(q.find('|') + 1));
            v = v.substr(0, v.find('\0')) + "\n";
            if (write(answer_[1], v.data(), v.size()) < 0) break;
        }
        _exit(0);
    }
    ~Reader() {
        close(ask_[1]);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::string Ask(const std::string &key, const std::string &name) {
        std::string q = key + "|" + name + "\n", a;
        EXPECT_EQ(write(ask_[1], q.data(), q.size()), static_cast<ssize_t>(q.size()));
        for (char c; read(answer_[0], &c, 1) == 1 && c != '\n';) a += c;
        return a;
    }

private:
    int ask_[2], answer_[2];
    pid_t pid_ = -1;
};

TEST_F(RegistryTest, AnotherProcessSeesEveryChangeInOrder) {
    MakeLarge();
    ASSERT_EQ(Set("Software\\App", "v", Sz("0")), 0);
    Reader reader;
    EXPECT_EQ(reader.Ask("Software\\App", "v"), "0");
    const std::string kBig(300, 'x');
    for (int i = 1; i <= 120; ++i) {  // enough bytes to pass a compaction
        ASSERT_EQ(Set("Software\\App", "v", Sz(std::to_string(i) + kBig)), 0);
        ASSERT_EQ(reader.Ask("Software\\App", "v"), std::to_string(i) + kBig);
    }
    HKEY app;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\App", 0, KEY_ALL_ACCESS, &app), 0);
    ASSERT_EQ(RegDeleteValueA(app, "v"), 0);
    EXPECT_EQ(reader.Ask("Software\\App", "v"), "!2");
    ASSERT_EQ(Set("Software\\App\\Sub", "w", Sz("1")), 0);
    EXPECT_EQ(reader.Ask("Software\\App\\Sub", "w"), "1");
    ASSERT_EQ(RegDeleteKeyA(app, "Sub"), 0);
    EXPECT_EQ(reader.Ask("Software\\App\\Sub", "w"), "!2");
    RegCloseKey(app);
    ASSERT_EQ(Set("Software\\App", "v", Sz("last")), 0);
    ASSERT_EQ(host::RegistryCompact(), 0);
    EXPECT_EQ(reader.Ask("Software\\App", "v"), "last");
    // A hand edit of the file is seen by both processes.
    WriteRegistry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\App]\n\"v\"=\"edited\"\n");
    EXPECT_EQ(reader.Ask("Software\\App", "v"), "edited");
    EXPECT_EQ(Get("Software\\App", "v"), Sz("edited"));
}

TEST_F(RegistryTest, StaleOrTornJournalIsNeverReplayed) {
    MakeLarge();
    fs::path log = machine_.Dir() / "registry.reg.log";
    ASSERT_EQ(Set("Software\\App", "v", Sz("1")), 0);
    ASSERT_EQ(Set("Software\\App", "v", Sz("2")), 0);
    std::string oldJournal = ReadText(log);
    ASSERT_FALSE(oldJournal.empty());
    ASSERT_EQ(host::RegistryCompact(), 0);
    ASSERT_EQ(Set("Software\\App", "v", Sz("3")), 0);
    ASSERT_EQ(host::RegistryCompact(), 0);
    // As a crash between a compaction and the journal's removal leaves it:
    // marked as folded into the file there, so it is not applied again...
    std::string folded = oldJournal + "\n; folded into " + host::reg::ContentStamp(ReadText(RegFile())) + "\n\n";
    WriteText(log, folded);
    EXPECT_EQ(Get("Software\\App", "v"), Sz("3"));
    // ...whereas a journal of another registry.reg (the file was edited
    // since) is refused, never silently dropped.
    WriteText(log, oldJournal);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Get("Software\\App", "v"), "!1009");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("registry.reg.log: it continues another registry.reg"),
              std::string::npos);
    WriteText(log, folded);
    // A record cut short by a killed writer does not count.
    ASSERT_EQ(Set("Software\\App", "w", Sz("1")), 0);
    std::ofstream(log, std::ios::app) << "[HKEY_LOCAL_MACHINE\\Software\\App]\n\"v\"=\"torn\"\n";
    EXPECT_EQ(Get("Software\\App", "v"), Sz("3"));
    ASSERT_EQ(Set("Software\\App", "x", Sz("1")), 0);
    EXPECT_EQ(Get("Software\\App", "v"), Sz("3"));
    EXPECT_EQ(Get("Software\\App", "w"), Sz("1"));
    // A complete record that does not parse refuses the registry.
    ASSERT_EQ(Set("Software\\App", "y", Sz("1")), 0);
    std::ofstream(log, std::ios::app) << "[HKEY_LOCAL_MACHINE\\Software\\App]\n\"v\"=bogus\n\n";
    testing::internal::CaptureStderr();
    std::string base = ReadText(RegFile());
    EXPECT_EQ(Get("Software\\App", "v"), "!1009");
    EXPECT_EQ(Set("Software\\App", "v", Sz("4")), ERROR_BADDB);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadText(RegFile()), base);
}

// A writer killed at random points leaves a registry that parses and holds
// every change it finished, whether it rewrites registry.reg or journals.
TEST_F(RegistryTest, KilledWriterLosesNothingFinished) {
    std::mt19937 rng(20240611);
    const std::string kPad(180, 'p');
    for (bool large : {false, true}) {
        SCOPED_TRACE(large ? "journal" : "whole file");
        machine_.Create("2000");
        if (large) MakeLarge();
        long done = -1;
        for (int round = 0; round < 5; ++round) {
            int p[2];
            ASSERT_EQ(pipe(p), 0);
            pid_t pid = fork();
            if (pid == 0) {
                close(p[0]);
                for (long i = done + 1;; ++i) {
                    std::string sub = "Software\\Crash\\K" + std::to_string(i % 5);
                    if (Set("Software\\Crash", "n", Sz(std::to_string(i) + kPad.substr(i % 97))) != 0) _exit(3);
                    if (Set(sub, "v", Sz(kPad)) != 0) _exit(4);
                    RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\Crash\\K" + std::to_string((i + 2) % 5)).c_str());
                    char c = 1;
                    if (write(p[1], &c, 1) != 1) _exit(5);
                }
            }
            close(p[1]);
            long want = 1 + static_cast<long>(rng() % 30);
            char c;
            for (long got = 0; got < want; ++got) {
                ASSERT_EQ(read(p[0], &c, 1), 1) << "writer died early";
                // Even a reader that takes no lock only ever sees a whole file.
                for (int look = 0; look < 4; ++look) {
                    std::string raw = ReadText(RegFile());
                    ASSERT_TRUE(raw.rfind("REGEDIT4\n\n", 0) == 0 && raw.size() >= 10 &&
                                raw.compare(raw.size() - 2, 2, "\n\n") == 0)
                        << raw.size();
                }
            }
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            close(p[0]);

            std::string v = Get("Software\\Crash", "n");
            ASSERT_NE(v[0], '!') << v;
            long n = std::stol(v);
            EXPECT_GE(n, done + want) << "a finished change was lost";
            EXPECT_EQ(v, Sz(std::to_string(n) + kPad.substr(n % 97)));
            done = n;
        }
        // registry.reg alone is a whole REGEDIT4 file.
        test::TestMachine copy;
        copy.Create("2000");
        fs::copy_file(RegFile(), copy.Dir() / "registry.reg");
        EXPECT_NE(Get("Software\\Crash", "n"), "!1009");
    }
}

// Two processes each set 200 values of one key at the same time.
void TwoWritersOnce() {
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = fork();
        if (kids[k] == 0) {
            for (int i = 0; i < 200; ++i) {
                std::string name = std::string(1, static_cast<char>('a' + k)).append(std::to_string(i));
                if (Set("Software\\Shared", name, Sz(name + "!")) != 0) _exit(1);
            }
            _exit(0);
        }
    }
    for (pid_t kid : kids) {
        int status = -1;
        waitpid(kid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int k = 0; k < 2; ++k) {
        for (int i = 0; i < 200; ++i) {
            std::string name = std::string(1, static_cast<char>('a' + k)).append(std::to_string(i));
            EXPECT_EQ(Get("Software\\Shared", name), Sz(name + "!"));
        }
    }
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
    for (bool large : {false, true}) {
        SCOPED_TRACE(large ? "journal" : "whole file");
        machine_.Create("2000");
        if (large) MakeLarge();
        TwoWritersOnce();
    }
}

}  // namespace
