// The fault table's walker: an operation run afresh, each platform call it
// makes failed in turn, and for every failure the operation's result code;
// nothing after the failure but closing what is open (unless the operation
// goes on past that call by design); and nothing already done undone: what
// a later failure leaves done includes what an earlier one left.
// ZAV_FAULT_TABLE=print prints the table as it is found.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/host/kernel/faults.h"
#include "platform/win.h"
#include "tests/test_machine.h"
#include "ui/result_codes.h"

namespace walk {

// Calls that cannot fail on Windows.
extern const std::set<std::string> kNeverFail;

struct Expect {
    UPD_RESULT result;
    bool goesOn = false;      // the operation carries on past this failure by design
    UPD_RESULT orResult = 0;  // another result it may give (a failure racing a worker's end)
    bool checked = true;      // false: another operation's table holds this call
};

// A call another operation's table holds.
inline const Expect kElsewhere{0, true, 0, false};

using Expectation = std::function<Expect(const std::string &, unsigned)>;  // the n-th call of an API failing

struct Operation {
    const char *name;  // its entry in Coverage()
    std::function<void()> arrange;                // the state before, afresh
    std::function<UPD_RESULT()> act;
    std::function<std::set<std::string>()> done;  // what the operation has changed so far
    Expectation expect;
    UPD_RESULT clean = UPD_OK;  // what it gives when nothing fails
};

inline std::set<std::string> Nothing() { return {}; }

// `run` with what it writes on standard output (the dialogs' transcript) dropped.
inline std::function<UPD_RESULT()> Quietly(std::function<UPD_RESULT()> run) {
    return [run] {
        testing::internal::CaptureStdout();
        UPD_RESULT r = run();
        testing::internal::GetCapturedStdout();
        return r;
    };
}

// Walks `op`. The calls it fails (checked, and not in kNeverFail) must be
// exactly the operation's entry in Coverage().
void Walk(const Operation &op);

// Runs a thread procedure on a worker thread, as the program starts its
// workers, and returns its exit code; the harness's own thread calls are
// not the operation's.
DWORD RunThread(LPTHREAD_START_ROUTINE start, LPVOID param);

// Per operation walked, the platform calls its walk fails.
const std::map<std::string, std::set<std::string>> &Coverage();

// The table of an operation, one row per failing call.
using Rows = std::map<std::pair<std::string, unsigned>, Expect>;
Expectation ByRow(Rows rows);

// What differs in `now` from `before`, line by line: "-line" gone, "+line" new.
std::set<std::string> Changes(const std::set<std::string> &before, const std::set<std::string> &now);

// Bytes of a file's first `original.size()` that differ from `original`, as "offset".
std::set<std::string> ChangedBytes(const std::filesystem::path &file, const std::string &original);
void PutBytes(const std::filesystem::path &file, const std::string &bytes);

class FaultTableTestBase : public testing::Test {
public:
    void TearDown() override { host::fault::Clear(); }
    void Keep(const std::string &name) { Copy(name, name + ".orig"); }
    void Restore(const std::string &name) { Copy(name + ".orig", name); }
    void Copy(const std::string &from, const std::string &to) {
        std::filesystem::copy_file(Dir() / from, Dir() / to, std::filesystem::copy_options::overwrite_existing);
    }
    std::filesystem::path Dir() const { return machine_.Dir(); }
    test::TestMachine machine_;
};

}  // namespace walk
