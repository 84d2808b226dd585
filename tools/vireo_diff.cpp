// vireo-diff A.json B.json [--json] [--only SECTIONS]
// Compares two snapshot documents (or plain vireo-dump documents) by content:
// what one device holds that the other does not, and what differs.
#include "snapshot/snapshot.h"
#include "snapshot/snapshot_diff.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <optional>
#include <string>

int main(int argc, char** argv)
{
    std::string fileA, fileB, only;
    bool json = false;
    CLI::App app("Compares two device snapshots (vireo-dump documents) by content, not by index: "
                 "satellites by name (then by LNB settings), transponders by satellite, frequency "
                 "and polarisation, programs by transponder and name, system settings field by "
                 "field.",
                 "vireo-diff");
    app.add_option("a", fileA, "the first snapshot")->type_name("A.json")->required();
    app.add_option("b", fileB, "the second snapshot")->type_name("B.json")->required();
    app.add_flag("--json", json, "print the differences as a JSON document");
    app.add_option("--only", only,
                   "compare only these sections, comma separated: satellites, tps, programs, "
                   "system")
        ->type_name("SECTIONS");
    app.footer("Exit status: 0 the same, 1 different, 2 a snapshot cannot be read (or usage).");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& bad) {
        app.exit(bad);
        return 2;
    }
    vireo::DiffOptions options;
    if (!only.empty()) {
        const std::optional<unsigned> sections = vireo::ParseDiffSections(only);
        if (!sections) {
            std::fprintf(stderr, "vireo-diff: unknown section in \"%s\"\n", only.c_str());
            return 2;
        }
        options.sections = *sections;
    }
    std::string error;
    const std::optional<vireo::Snapshot> a = vireo::ReadSnapshotFile(fileA, &error);
    if (!a) {
        std::fprintf(stderr, "vireo-diff: %s\n", error.c_str());
        return 2;
    }
    const std::optional<vireo::Snapshot> b = vireo::ReadSnapshotFile(fileB, &error);
    if (!b) {
        std::fprintf(stderr, "vireo-diff: %s\n", error.c_str());
        return 2;
    }
    const vireo::SnapshotDiff diff = vireo::DiffSnapshots(*a, *b, options);
    const std::string out =
        json ? vireo::DiffJson(diff, fileA, fileB) : vireo::DiffText(diff, fileA, fileB);
    std::fputs(out.c_str(), stdout);
    return diff.Empty() ? 0 : 1;
}
