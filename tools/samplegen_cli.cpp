/* samplegen_cli.cpp -- writes sample PSU archives of our own into a folder */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/cli.h"
#include "common/platform.h"
#include "tools/samplegen.h"

using namespace ps2;

static const char kHelp[] =
    "Usage: ps2-samplegen [--random SEED COUNT] OUTDIR\n"
    "Writes well-formed PSU archives of our own into OUTDIR (created if missing):\n"
    "the demo saves, or COUNT varied saves made from SEED with --random.\n"
    "Example: ps2-samplegen samples\n";

static bool write_save(const std::string& dir, const samples::Save& s, cli::Console& con)
{
    const std::vector<uint8_t> bytes = samples::build_save(s);
    const std::string path = dir + "/" + s.name + ".psu";
    const plat::IoError e = plat::write_file_replace(path.c_str(), bytes);
    if (e != plat::IoError::ok) {
        con.print(Severity::error, path.c_str(), plat::io_error_text(e));
        return false;
    }
    con.print(Severity::note, nullptr, path.c_str());
    return true;
}

int main(int argc, char** argv)
{
    cli::Console con("ps2-samplegen");
    int status = 0;
    if (argc > 1 && cli::handle_standard_option(argv[1], "ps2-samplegen", kHelp, &status)) return status;
    int i = 1;
    bool random = false;
    unsigned long seed = 1, count = 0;
    if (i < argc && std::strcmp(argv[i], "--random") == 0) {
        if (argc - i < 4) {
            con.usage_error("--random needs SEED and COUNT");
            return cli::kExitUsage;
        }
        random = true;
        seed = std::strtoul(argv[i + 1], nullptr, 10);
        count = std::strtoul(argv[i + 2], nullptr, 10);
        i += 3;
    }
    if (argc - i != 1) {
        con.usage_error("expected one output folder");
        return cli::kExitUsage;
    }
    const std::string dir = argv[i];
    if (plat::create_folder(dir.c_str()) != plat::IoError::ok) {
        con.print(Severity::error, dir.c_str(), "cannot create the folder");
        return cli::kExitSomeFailed;
    }
    if (random) {
        for (unsigned long k = 0; k < count; ++k) {
            samples::Save s = samples::random_save(uint32_t(seed + k));
            s.name += "-" + std::to_string(k); /* distinct file names */
            if (s.name.size() > 32) s.name.erase(0, s.name.size() - 32);
            write_save(dir, s, con);
        }
    } else {
        for (const samples::Save& s : samples::demo_saves()) write_save(dir, s, con);
    }
    return con.exit_status();
}
