// updkit dist: the command's table; each action lives in a file of its own.
#include <filesystem>
#include <system_error>

#include "tools/updkit/Command.h"
#include "tools/updkit/Dist.h"

namespace fs = std::filesystem;

InDistribution::InDistribution(const char* dist) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(dist, ec);
  if (ec || !fs::is_directory(absolute, ec)) return;
  previous_ = fs::current_path(ec).string();
  if (ec) return;
  fs::current_path(absolute, ec);
  if (ec) return;
  entered_ = true;
  folder_ = absolute.string();
  if (folder_.back() != '/' && folder_.back() != static_cast<char>(fs::path::preferred_separator))
    folder_ += static_cast<char>(fs::path::preferred_separator);
}

InDistribution::~InDistribution() {
  std::error_code ec;
  if (entered_) fs::current_path(previous_, ec);
}

namespace {

const Command kDistCommand{
    "dist",
    "check an update distribution and rehearse it",
    {
        {"check",
         {"DIST"},
         {Valued("--script", "NAME", "the script in DIST (default patch.txt)")},
         "Reads the script with the updater's own token reader and directive\n"
         "machine, without an installation, and prints every problem as\n"
         "  FILE:LINE: error|warning: text\n"
         "then a line with the versions the update accepts and writes. It\n"
         "checks the script, that every shipped file is in DIST (names matched\n"
         "without regard to case), that packages unpack whole, that shipped\n"
         "stores verify and their fonts' surfaces are whole, that no folder\n"
         "leaves the installation and no path passes 259 characters (with the\n"
         "game in C:\\Program Files (x86)\\Varnholt\\Marovex\\), that some\n"
         "installed version passes the version checks and the new one lies\n"
         "above it, and Report.txt. Status 1 when there is an error.\n",
         DistCheck},
        {"plan",
         {"DIST"},
         {Valued("--script", "NAME", "the script in DIST (default patch.txt)"),
          Valued("--registry", "FILE",
                 "the .reg file that stands for the registry (POSIX;\n"
                 "default UPDATER_REGISTRY)")},
         "Runs the update in DIST as the updater would, against the installation\n"
         "the registry names, with every write kept in memory: nothing on the\n"
         "disk or in the registry changes. Prints the files it would create,\n"
         "replace or delete, the records it would add or replace in each store,\n"
         "the registry values it would write, the messages and questions it\n"
         "would show (every question answered No) and the update log. The\n"
         "status is the updater's.\n",
         DistPlan},
    },
    "",  // no notes
    {},  // no options of its own
    2,   // status of a command line without an action
    2,   // and of a wrong one for an action
};

}  // namespace

UPDKIT_COMMAND(dist, kDistCommand);
