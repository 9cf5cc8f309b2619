#include "platform/host/kernel/faults.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/host/machine/disks.h"
#include "platform/host/machine/machine.h"
#include "platform/host/text/ascii.h"

namespace host::fault {
namespace {

struct Rule {
    unsigned from;
    bool onward;  // every call from `from` on, not only that one
    DWORD error;  // 0: a rule that only acts
    std::function<void()> action;
};

struct State {
    std::mutex mutex;
    std::map<std::string, std::vector<Rule>> rules;
    std::map<std::string, unsigned> counts;
    bool recording = false;
    std::vector<std::string> calls;
    FILE *log = nullptr;
};

State &TheState() {
    static State *state = new State;  // used until the very end of the process
    return *state;
}

std::atomic<bool> g_active{false};
thread_local int t_depth = 0;

void AddRule(const std::string &api, Rule rule) {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.rules[AsciiLower(api)].push_back(rule);
    s.recording = true;
    g_active = true;
}

DWORD Count(const char *api) {
    State &s = TheState();
    std::vector<std::function<void()>> actions;
    DWORD error = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        std::string name = AsciiLower(api);  // machine.ini names calls in any case
        unsigned n = ++s.counts[name];
        if (s.recording) s.calls.emplace_back(api);
        if (s.log) std::fprintf(s.log, "%s\n", api);
        auto it = s.rules.find(name);
        if (it == s.rules.end()) return 0;
        for (const Rule &r : it->second) {
            if (n != r.from && !(r.onward && n > r.from)) continue;
            if (r.action) actions.push_back(r.action);
            if (!error) error = r.error;
        }
    }
    for (auto &action : actions) action();  // outside the lock: it may call the platform
    return error;
}

// A count or an error code from 1 to 0xFFFFFFFF. strtoull alone would take a
// sign or wrap a larger value round, turning a typo into another rule.
bool ParseCount(const std::string &text, int base, uint32_t *value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (*end || errno == ERANGE || v == 0 || v > 0xFFFFFFFFull) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// "3:32" or "3+:32"; false when it is neither.
bool ParseRule(const std::string &text, Rule *rule) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string when = Trim(text.substr(0, colon)), error = Trim(text.substr(colon + 1));
    rule->onward = !when.empty() && when.back() == '+';
    if (rule->onward) when.pop_back();
    uint32_t n = 0, e = 0;
    if (!ParseCount(when, 10, &n) || !ParseCount(error, 0, &e)) return false;
    rule->from = n;
    rule->error = e;
    return true;
}

}  // namespace

void FailAt(const std::string &api, unsigned n, DWORD error) { AddRule(api, {n, false, error, nullptr}); }
void FailFrom(const std::string &api, unsigned n, DWORD error) { AddRule(api, {n, true, error, nullptr}); }
void OnCall(const std::string &api, unsigned n, std::function<void()> action) {
    AddRule(api, {n, false, 0, std::move(action)});
}
void OnCallsFrom(const std::string &api, unsigned n, std::function<void()> action) {
    AddRule(api, {n, true, 0, std::move(action)});
}

void Clear() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.rules.clear();
    s.counts.clear();
    s.calls.clear();
    s.recording = false;
    g_active = s.log != nullptr;
}

void Record() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.recording = true;
    g_active = true;
}

std::vector<std::string> Calls() {
    State &s = TheState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

std::string LoadMachineRules() {
    auto ini = ini::File::Load(MachineDir() / "machine.ini");
    if (!ini) return {};
    for (const ini::Section &section : ini->sections()) {
        if (!EqualsIgnoringCase(section.name, "faults")) continue;
        for (const std::string &line : section.lines) {
            std::string t = Trim(line);
            if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') continue;
            size_t eq = t.find('=');
            std::string key = Trim(t.substr(0, eq == std::string::npos ? 0 : eq));
            std::string value = eq == std::string::npos ? "" : Trim(t.substr(eq + 1));
            std::string bad = (MachineDir() / "machine.ini").string() + ": [faults] " + t +
                              " is no fault rule (API=N:ERROR or API=N+:ERROR, comma-separated)";
            if (key.empty()) return bad;
            if (EqualsIgnoringCase(key, "log")) {
                State &s = TheState();
                std::lock_guard<std::mutex> lock(s.mutex);
                s.log = std::fopen(MachineFile(value).c_str(), "a");
                if (s.log) std::setvbuf(s.log, nullptr, _IOLBF, 0);
                g_active = true;
                continue;
            }
            for (size_t start = 0; start <= value.size();) {
                size_t comma = value.find(',', start);
                Rule rule;
                if (!ParseRule(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start), &rule))
                    return bad;
                AddRule(key, rule);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        }
    }
    return {};
}

ApiScope::ApiScope(const char *api) {
    if (t_depth++ == 0 && g_active.load(std::memory_order_relaxed)) fault_ = Count(api);
}

ApiScope::~ApiScope() { --t_depth; }

ProgramScope::ProgramScope() : saved_(t_depth) { t_depth = 0; }
ProgramScope::~ProgramScope() { t_depth = saved_; }

HarnessScope::HarnessScope() { ++t_depth; }
HarnessScope::~HarnessScope() { --t_depth; }

}  // namespace host::fault
