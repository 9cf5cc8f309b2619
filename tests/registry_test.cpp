// The host registry over registry.reg: the REGEDIT4 grammar, Windows error
// codes, protection, and what several processes see and keep.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "platform/host/machine/machine.h"
#include "platform/host/registry/internal.h"
#include "platform/host/registry/store.h"
#include "platform/win.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;
using test::ReadBytes;

namespace {

// Replaces a file the way an editor saving it would (a new inode).
void WriteText(const fs::path &p, const std::string &text) {
    const fs::path tmp = p.string() + ".new";
    std::ofstream(tmp, std::ios::binary) << text;
    fs::rename(tmp, p);
}

// Opens an HKLM key; without `h` it only tells whether that works.
LONG Open(const std::string &key, HKEY *h = nullptr) {
    HKEY k;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &k);
    if (rc == 0 && h) *h = k;
    if (rc == 0 && !h) RegCloseKey(k);
    return rc;
}

// The data of a value as bytes, or "!<error>".
std::string Get(const std::string &key, const std::string &name, DWORD *type = nullptr) {
    HKEY h;
    if (LONG rc = Open(key, &h)) return "!" + std::to_string(rc);
    char buf[4096];
    DWORD size = sizeof buf;
    LONG rc = RegQueryValueExA(h, name.c_str(), nullptr, type, reinterpret_cast<BYTE *>(buf), &size);
    RegCloseKey(h);
    return rc ? "!" + std::to_string(rc) : std::string(buf, size);
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

int Reap(pid_t pid) {
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

// A registry file from a table row: the text after a header and an
// HKLM\S section, or, after a leading '!', the whole file.
std::string FileText(const char *body) {
    return body[0] == '!' ? body + 1 : std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n") + body;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    fs::path RegFile() const { return machine_.Dir() / "registry.reg"; }
    fs::path Log() const { return machine_.Dir() / "registry.reg.log"; }
    // A registry past 64 KiB: changes go to the journal instead of
    // rewriting registry.reg.
    void MakeLarge() { ASSERT_EQ(Set("Software\\Filler", "pad", std::string(30000, 'p'), REG_BINARY), 0); }
    // Runs `body` on a registry rewritten whole on every change, then on one that journals.
    template <class Body> void OnBothStores(Body body) {
        for (bool large : {false, true}) {
            SCOPED_TRACE(large ? "journal" : "whole file");
            machine_.Create("2000");
            if (large) MakeLarge();
            body();
        }
    }

    test::TestMachine machine_;
};

// --- Grammar -----------------------------------------------------------------

// Registry files and what the store makes of them: the data of a value (or
// "!2" when it is gone), or "!1009" for a file it refuses, reported once on
// standard error and left as it is. What the store writes itself is read
// back in WrittenFileIsRegeditFormatAndRoundTrips.
struct FileCase {
    const char *what, *body;  // body as FileText takes it
    std::string data;
    DWORD type = 0;
    const char *key = "S", *name = "s";
};

const FileCase kFiles[] = {
    {"short mixed-case dword", "\"n\"=DWORD:A0b0C\n", std::string("\x0c\x0b\x0a\0", 4), REG_DWORD, "S", "n"},
    {"CRLF lines and continuation", "!REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\S]\r\n\"s\"=hex:0a,\\\r\n  0b\r\n",
     "\x0a\x0b", REG_BINARY},
    {"byte order mark and comments", "!\xEF\xBB\xBFREGEDIT4\n; note\n[HKEY_LOCAL_MACHINE\\S]\n\"s\"=\"x\"\n", Sz("x"),
     REG_SZ},
    // Journal records: a later section adds to its key; a value removed.
    {"a later section adds to a key", "\"a\"=\"1\"\n[HKEY_CURRENT_USER\\X]\n[HKEY_LOCAL_MACHINE\\s]\n\"b\"=\"2\"\n",
     Sz("1"), REG_SZ, "S", "a"},
    {"\"name\"=- removes a value", "\"s\"=\"x\"\n\"s\"=-\n", "!2"},
    {"no header", "![HKEY_LOCAL_MACHINE\\S]\n\"s\"=\"x\"\n", "!1009"},
    {"value before any key", "!REGEDIT4\n\n\"s\"=\"x\"\n", "!1009"},
    {"bad dword", "\"n\"=dword:xyz\n", "!1009"}, {"dword of 9 digits", "\"n\"=dword:000000001\n", "!1009"},
    {"unterminated string", "\"s\"=\"abc\n", "!1009"}, {"unknown root", "[HKEY_NOWHERE\\T]\n", "!1009"},
    {"hex byte too long", "\"b\"=hex:1ff\n", "!1009"}, {"continuation at the end", "\"b\"=hex:01,\\\n", "!1009"},
    {"section without ]", "[HKEY_LOCAL_MACHINE\\T\n", "!1009"}, {"root key removal", "[-HKEY_LOCAL_MACHINE]\n", "!1009"},
};

TEST_F(RegistryTest, FilesAreReadOrRefusedWhole) {
    for (const FileCase &c : kFiles) {
        SCOPED_TRACE(c.what);
        machine_.Create("2000");
        const std::string text = FileText(c.body);
        WriteText(RegFile(), text);
        testing::internal::CaptureStderr();
        DWORD type = 0;
        EXPECT_EQ(Get(c.key, c.name, &type), c.data);
        if (c.data[0] != '!') { EXPECT_EQ(type, c.type); }
        const bool refused = c.data == "!1009";
        if (refused) {
            EXPECT_EQ(Set("S", "new", "v"), ERROR_BADDB);
            EXPECT_EQ(host::RegistryCompact(), ERROR_BADDB);
        }
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), refused ? 1 : 0) << err;
        EXPECT_EQ(ReadBytes(RegFile()), text);
    }
}

// What the store writes is regedit's format and reads back byte for byte. A
// small registry is rewritten whole on every change, journal-free, so
// registry.reg may be edited by hand between runs.
TEST_F(RegistryTest, WrittenFileIsRegeditFormatAndRoundTrips) {
    std::string binary;
    for (int i = 0; i < 30; ++i) binary += static_cast<char>(i);
    const std::vector<std::tuple<std::string, DWORD, std::string>> values = {
        {"Path", REG_SZ, Sz("C:\\ZAV \"1.1\"")}, {"", REG_SZ, Sz("default")},
        {"Count", REG_DWORD, std::string("\x0a\0\0\0", 4)}, {"Blob", REG_BINARY, binary},
        {"NoNul", REG_SZ, "ab"}, {"Lines", REG_SZ, Sz("a\nb")},  // no plain strings: kept as hex(1)
        {"Short", REG_DWORD, "\x01"},
    };
    for (const auto &[name, type, data] : values) ASSERT_EQ(Set("Software\\ZAV", name, data, type), 0);
    EXPECT_FALSE(fs::exists(Log()));
    EXPECT_EQ(ReadBytes(RegFile()),
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
              "\"Short\"=hex(4):01\n\n");

    WriteText(RegFile(), ReadBytes(RegFile()));  // a new file: read back, not taken from the cache
    for (const auto &[name, type, data] : values) {
        DWORD got = 0;
        EXPECT_EQ(Get("SOFTWARE\\zav", name, &got), data) << name;
        EXPECT_EQ(got, type) << name;
    }
}

// --- Error codes -------------------------------------------------------------

TEST_F(RegistryTest, ErrorCodesBufferSizesCaseAndDeadHandles) {
    ASSERT_EQ(Set("Software\\MyApp\\Sub", "", ""), 0);
    ASSERT_EQ(Set("Software\\MyApp", "Name", Sz("a")), 0);
    ASSERT_EQ(Set("software\\MYAPP", "NAME", Sz("value")), 0);  // the same value, its case kept
    HKEY h, sub;
    ASSERT_EQ(Open("SOFTWARE\\myapp", &h), 0);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(h, "name", nullptr, nullptr, nullptr, &size), 0);  // size only
    EXPECT_EQ(size, 6u);
    // Entry `i` of the values or subkeys given `room` characters: "name/length" or "!<error>".
    auto entry = [h](bool key, DWORD i, DWORD room) {
        char name[8];
        LONG rc = key ? RegEnumKeyExA(h, i, name, &room, nullptr, nullptr, nullptr, nullptr)
                      : RegEnumValueA(h, i, name, &room, nullptr, nullptr, nullptr, nullptr);
        return rc ? "!" + std::to_string(rc) : name + ("/" + std::to_string(room));
    };
    // "Name" needs 5 with its terminator, "Sub" 4.
    EXPECT_EQ(entry(false, 0, 4) + " " + entry(false, 0, 5) + " " + entry(false, 1, 8), "!234 Name/4 !259");
    EXPECT_EQ(entry(true, 0, 3) + " " + entry(true, 0, 4) + " " + entry(true, 1, 8), "!234 Sub/3 !259");
    // A handle on a deleted key stays dead, even once a key of that name is back.
    ASSERT_EQ(Open("Software\\MyApp\\Sub", &sub), 0);
    EXPECT_EQ(RegDeleteKeyA(h, "Sub"), 0);
    EXPECT_EQ(RegQueryValueExA(sub, "", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    ASSERT_EQ(Set("Software\\MyApp\\Sub", "v", Sz("new")), 0);
    EXPECT_EQ(RegSetValueExA(sub, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>("x"), 2), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(sub), 0);
    RegCloseKey(h);
    EXPECT_EQ(RegQueryValueExA(h, "Name", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);  // closed
}

// Targets under HKLM\Software, where Tree\Mid\Leaf\Guard is protected and
// so is the value "pin" of Pinned.
const struct { const char *what, *os, *target; LONG result; } kDeletes[] = {
    {"NT refuses a key with subkeys", "2000", "Tree", ERROR_ACCESS_DENIED},
    {"9x deletes the whole subtree", "98", "Tree\\Other", 0},
    {"9x refuses a subtree holding a protected key", "98", "Tree", ERROR_ACCESS_DENIED},
    {"a key holding a protected value", "2000", "Pinned", ERROR_ACCESS_DENIED},
    {"missing key", "2000", "Tree\\Nope", ERROR_FILE_NOT_FOUND},
};

TEST_F(RegistryTest, DeleteRulesAndProtection) {
    for (const auto &c : kDeletes) {
        SCOPED_TRACE(c.what);
        machine_.Create(c.os);
        WriteText(machine_.Dir() / "registry.protected",
                  "HKEY_LOCAL_MACHINE\\SOFTWARE\\tree\\Mid\\Leaf\\guard\r\n"
                  "HKEY_LOCAL_MACHINE\\Software\\Pinned\\\"pin\"\n");
        ASSERT_EQ(Set("Software\\Tree\\Mid\\Leaf\\Guard", "v", Sz("1")), ERROR_ACCESS_DENIED);
        ASSERT_EQ(Set("Software\\Tree\\Other\\Twig", "v", Sz("1")), 0);
        ASSERT_EQ(Set("Software\\Pinned", "PIN", Sz("1")), ERROR_ACCESS_DENIED);  // names match without case
        ASSERT_EQ(Set("Software\\Pinned", "other", Sz("1")), 0);                  // its neighbours are free
        const std::string target = "Software\\" + std::string(c.target), before = ReadBytes(RegFile());
        EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, target.c_str()), c.result);
        // A refusal changes nothing; the small registry is rewritten whole on a change.
        if (c.result != 0) {
            EXPECT_EQ(ReadBytes(RegFile()), before);
            EXPECT_EQ(Get("Software\\Tree\\Other\\Twig", "v"), Sz("1"));  // nor in this process's tree
            EXPECT_EQ(Get("Software\\Pinned", "other"), Sz("1"));
            EXPECT_EQ(Open("Software\\Tree\\Mid\\Leaf\\Guard"), 0);
        }
        if (c.result == 0) { EXPECT_EQ(Open(target), ERROR_FILE_NOT_FOUND); }
    }
}

TEST_F(RegistryTest, WithoutMachineEveryCallFails) {
    unsetenv("ZAV_MACHINE");
    host::ReloadMachine();
    EXPECT_EQ(Open("Software"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Set("Software", "v", Sz("1")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(host::RegistryCompact(), ERROR_FILE_NOT_FOUND);
}

// --- Several processes ------------------------------------------------------

// Mended: what is on disk is the whole registry once a process is done with
// it, so an edit of registry.reg between runs loses nothing; only a crash
// leaves a journal, which the next process, and `zav-machine show`, take up.
TEST_F(RegistryTest, AProcessFoldsItsJournalInBeforeItEnds) {
    machine_.CreateWithTool("--os 2000 --old-version");
    MakeLarge();
    const std::string tool = std::string(ZAV_BUILD_DIR) + "/zav-machine ", dir = machine_.Dir().string();
    auto run = test::Run("env ZAV_FRONTEND=noninteractive " + tool + "run " + dir +
                         " 'C:\\UPDATE\\UPDATE.EXE unhide SETUP.EXE' 2>&1");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_FALSE(fs::exists(Log())) << "the program journalled its removals and folded them in";
    const std::string after = ReadBytes(RegFile());
    EXPECT_EQ(after.find("\"SalvSA\""), std::string::npos);
    EXPECT_NE(after.find("\"ZV_UPDATE\""), std::string::npos);

    pid_t pid = fork();
    if (pid == 0) _exit(Set("Software\\App", "crashed", Sz("1")));  // killed after its change
    ASSERT_EQ(Reap(pid), 0);
    ASSERT_TRUE(fs::exists(Log()));
    auto show = test::Run(tool + "show " + dir + " 2>&1");
    EXPECT_NE(show.out.find("\"crashed\"=\"1\""), std::string::npos) << "show sees the program's registry";
    EXPECT_EQ(host::RegistryFinish(), 0);
    EXPECT_FALSE(fs::exists(Log()));
    EXPECT_NE(ReadBytes(RegFile()).find("\"crashed\"=\"1\""), std::string::npos);
}

TEST_F(RegistryTest, StaleOrTornJournalIsNeverReplayed) {
    MakeLarge();
    ASSERT_EQ(Set("Software\\App", "v", Sz("2")), 0);
    const std::string oldJournal = ReadBytes(Log());
    ASSERT_NE(oldJournal.find("\"v\"=\"2\""), std::string::npos);
    ASSERT_EQ(host::RegistryCompact(), 0);
    ASSERT_EQ(Set("Software\\App", "v", Sz("3")), 0);
    ASSERT_EQ(host::RegistryCompact(), 0);
    // As a crash between a compaction and the journal's removal leaves it:
    // marked as folded into the file there, so it is not applied again...
    const std::string folded = oldJournal + "\n; folded into " + host::reg::ContentStamp(ReadBytes(RegFile())) + "\n\n";
    WriteText(Log(), folded);
    EXPECT_EQ(Get("Software\\App", "v"), Sz("3"));
    // ...whereas a journal of another registry.reg (the file was edited
    // since) is refused, never silently dropped.
    WriteText(Log(), oldJournal);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Get("Software\\App", "v"), "!1009");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("registry.reg.log: it continues another registry.reg"),
              std::string::npos);
    WriteText(Log(), folded);
    // A record cut short by a killed writer does not count, for readers nor
    // for the next writer.
    ASSERT_EQ(Set("Software\\App", "w", Sz("1")), 0);
    std::ofstream(Log(), std::ios::app) << "[HKEY_LOCAL_MACHINE\\Software\\App]\n\"u\"=\"1\"\n\n"
                                        << "[HKEY_LOCAL_MACHINE\\Software\\App]\n\"v\"=\"torn\"\n";
    EXPECT_EQ(Get("Software\\App", "u"), Sz("1")) << "the complete record before it counts";
    EXPECT_EQ(Get("Software\\App", "v"), Sz("3"));
    ASSERT_EQ(Set("Software\\App", "x", Sz("1")), 0);
    EXPECT_EQ(Get("Software\\App", "v"), Sz("3"));
    EXPECT_EQ(Get("Software\\App", "w"), Sz("1"));
    // A complete record that does not parse refuses the registry.
    ASSERT_EQ(Set("Software\\App", "y", Sz("1")), 0);
    std::ofstream(Log(), std::ios::app) << "[HKEY_LOCAL_MACHINE\\Software\\App]\n\"v\"=bogus\n\n";
    testing::internal::CaptureStderr();
    const std::string base = ReadBytes(RegFile());
    EXPECT_EQ(Get("Software\\App", "v"), "!1009");
    EXPECT_EQ(Set("Software\\App", "v", Sz("4")), ERROR_BADDB);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadBytes(RegFile()), base);
}

// A writer killed at random points leaves a registry that parses and holds
// every change it finished, whether it rewrites registry.reg or journals.
TEST_F(RegistryTest, KilledWriterLosesNothingFinished) {
    std::mt19937 rng(20240611);
    const std::string kPad(180, 'p'), kKid = "Software\\Crash\\K";
    auto counter = [&](long i) { return Sz(std::to_string(i) + kPad.substr(i % 97)); };
    OnBothStores([&] {
        long done = -1;
        for (int round = 0; round < 500; ++round) {  // 1,000 kills over both stores
            int p[2];
            ASSERT_EQ(pipe(p), 0);
            pid_t pid = fork();
            if (pid == 0) {
                for (long i = done + 1;; ++i) {  // the writer, until it is killed
                    if (Set("Software\\Crash", "n", counter(i)) || Set(kKid + std::to_string(i % 5), "v", kPad))
                        _exit(3);
                    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kKid + std::to_string((i + 2) % 5)).c_str());
                    if (write(p[1], "", 1) != 1) _exit(4);
                }
            }
            close(p[1]);
            long want = 1 + static_cast<long>(rng() % 3);
            char c;
            for (long got = 0; got < want; ++got) {
                ASSERT_EQ(read(p[0], &c, 1), 1) << "writer died early";
                // Even a reader that takes no lock only ever sees a whole file.
                for (int look = 0; look < 4; ++look) {
                    std::string raw = ReadBytes(RegFile());
                    ASSERT_TRUE(raw.rfind("REGEDIT4\n\n", 0) == 0 && raw.compare(raw.size() - 2, 2, "\n\n") == 0)
                        << raw.size();
                }
            }
            // Somewhere inside one of the next changes.
            usleep(static_cast<useconds_t>(rng() % 400));
            kill(pid, SIGKILL);
            Reap(pid);
            close(p[0]);
            std::string v = Get("Software\\Crash", "n");
            ASSERT_NE(v[0], '!') << v;
            long n = std::stol(v);
            EXPECT_GE(n, done + want) << "a finished change was lost";
            EXPECT_EQ(v, counter(n));
            done = n;
        }
    });
}

// Two processes each set 200 values of one key at the same time; the first
// also removes a key this process holds cached, which it must then see gone.
// (Changes seen across compactions: KilledWriterLosesNothingFinished.)
TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
    auto name = [](int k, int i) { return std::string(1, static_cast<char>('a' + k)) + std::to_string(i); };
    OnBothStores([&] {
        ASSERT_EQ(Set("Software\\Shared\\Gone", "v", Sz("1")), 0);
        pid_t kids[2];
        for (int k = 0; k < 2; ++k) {
            if ((kids[k] = fork()) != 0) continue;
            if (k == 0 && RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Shared\\Gone") != 0) _exit(2);
            for (int i = 0; i < 200; ++i) {
                if (Set("Software\\Shared", name(k, i), Sz(name(k, i) + "!")) != 0) _exit(1);
            }
            _exit(0);
        }
        for (pid_t kid : kids) EXPECT_EQ(Reap(kid), 0);
        EXPECT_EQ(Open("Software\\Shared\\Gone"), ERROR_FILE_NOT_FOUND);
        for (int k = 0; k < 2; ++k) {
            for (int i = 0; i < 200; ++i) EXPECT_EQ(Get("Software\\Shared", name(k, i)), Sz(name(k, i) + "!"));
        }
    });
}

}  // namespace
