/* fault_support.h -- sweeping a system failure over every step of one job: the fault-free run counts the
 * calls of each kind, then the job runs again once per call, that call failing (common/platform_faults.h).
 * Snapshots of folders tell what a failed run left behind. */
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "common/platform_faults.h"
#include "tests/test_support.h"

namespace ps2::test {

namespace faults = plat::faults;

inline constexpr std::array<faults::Op, 7> kFaultOps = {faults::Op::open,   faults::Op::read,   faults::Op::write,
                                                        faults::Op::flush,  faults::Op::rename, faults::Op::folder,
                                                        faults::Op::alloc};

inline const char* fault_op_name(faults::Op op)
{
    switch (op) {
    case faults::Op::open: return "open";
    case faults::Op::read: return "read";
    case faults::Op::write: return "write";
    case faults::Op::rename: return "rename";
    case faults::Op::folder: return "folder";
    case faults::Op::alloc: return "alloc";
    case faults::Op::flush: return "flush";
    case faults::Op::count_: break;
    }
    return "?";
}

/* Every file and folder under a folder, by path relative to it: a file's bytes, or "<folder>". */
using Snapshot = std::map<std::string, std::string>;

inline Snapshot snapshot(const std::string& root)
{
    Snapshot s;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string rel = std::filesystem::relative(it->path(), root).string();
        s[rel] = it->is_directory() ? std::string("<folder>") : get_text(it->path().string());
    }
    return s;
}

/* What a sweep's job gives back for one run. */
struct FaultRun {
    faults::Op op = faults::Op::count_; /* count_: the fault-free run */
    unsigned nth = 0;
    std::string where; /* "write 3", for messages */
};

/* Runs `job` fault-free (after `setup`), then once for every call of every kind that run made, with that
 * call failing (after `setup` each time), and hands each run to `check`. Returns the calls counted per kind.
 * A run stops at the first fatal failure of a check. */
inline std::array<unsigned, kFaultOps.size()> sweep_faults(const std::function<void()>& setup,
                                                           const std::function<void(const FaultRun&)>& job,
                                                           const std::function<void(const FaultRun&)>& check)
{
    std::array<unsigned, kFaultOps.size()> counts{};
    setup();
    faults::reset();
    const FaultRun clean{faults::Op::count_, 0, "no fault"};
    job(clean);
    for (size_t k = 0; k < kFaultOps.size(); ++k) counts[k] = faults::calls(kFaultOps[k]);
    faults::reset();
    check(clean);
    for (size_t k = 0; k < kFaultOps.size(); ++k)
        for (unsigned n = 1; n <= counts[k]; ++n) {
            const FaultRun run{kFaultOps[k], n, std::string(fault_op_name(kFaultOps[k])) + " " + std::to_string(n)};
            SCOPED_TRACE(run.where);
            setup();
            faults::reset();
            faults::fail_nth(run.op, n);
            job(run);
            faults::reset();
            check(run);
            if (::testing::Test::HasFatalFailure()) return counts;
        }
    return counts;
}

inline unsigned count_of(const std::array<unsigned, kFaultOps.size()>& counts, faults::Op op)
{
    for (size_t k = 0; k < kFaultOps.size(); ++k)
        if (kFaultOps[k] == op) return counts[k];
    return 0;
}

} // namespace ps2::test
