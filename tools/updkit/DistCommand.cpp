// `updkit dist`: update distributions, from two game folders to the folder a
// player's updater runs in. Each action lives in a file of its own (Dist.h).
#include <filesystem>
#include <system_error>

#include "platform/Env.h"
#include "platform/NativePath.h"
#include "tools/updkit/Command.h"
#include "tools/updkit/Dist.h"

namespace fs = std::filesystem;

InDistribution::InDistribution(const char* dist) {
  if (!plat::Env::Default()->IsFolder(dist)) return;
  std::error_code ec;
  previous_ = fs::current_path(ec).string();
  if (ec) return;
  // The C runtime's current folder takes the system's name of the folder;
  // the updater's code is handed the name it has in the code page.
  fs::current_path(plat::NativePath(dist), ec);
  if (ec) return;
  entered_ = true;
  folder_ = plat::CurrentFolder();
  if (folder_.empty()) folder_ = ".";  // a name the code page lacks: named from within
  if (folder_.back() != '/' && folder_.back() != '\\')
    folder_ += static_cast<char>(fs::path::preferred_separator);
}

InDistribution::~InDistribution() {
  std::error_code ec;
  if (entered_) fs::current_path(previous_, ec);
}

namespace {

const Command kDistCommand{
    "dist",
    "make, check and rehearse update distributions",
    {
        {"make",
         {"OLD", "NEW", "OUT"},
         {
             Required(Valued("--from", "V.BBB.PPP",
                             "the version of OLD: the update runs only on an\n"
                             "installation at exactly this version")),
             Required(Valued("--to", "V.BBB.PPP", "the version of NEW, written when it is done")),
             Number("--type", "T", 0, 2,
                    "the update type (0 sets the version number, 1 a\n"
                    "build, 2 a patch); by default the one the versions\n"
                    "ask for"),
             Valued("--data", "DIR",
                    "the folder of OLD and NEW that DataPath names\n(default Data)"),
             Valued("--sound", "DIR", "the folder SoundPath names (default Sound)"),
             Valued("--video", "DIR", "the folder VideoPath names (default Video)"),
             Valued("--music", "DIR", "the folder MusicPath names (default Music)"),
             Valued("--report", "FILE", "write the report to FILE, not OUT/Report.txt"),
             Switch("--strict", "what the update cannot do is an error: nothing\nis written"),
         },
         "Compares the installed game folders OLD and NEW, names matched without\n"
         "regard to case, and writes into the new folder OUT the update that\n"
         "takes an installation at --from to NEW at --to:\n"
         "- for each record store (a .DKX with its .DKD) in both whose records\n"
         "  differ, a store of the same name with the new and changed records,\n"
         "  stored as NEW stores them (fonts with their surfaces), applied with\n"
         "  `file = NAME, 1`; a store only in NEW is two new files;\n"
         "- every other new or changed file in one package per folder keyword\n"
         "  (MAIN.PQ, DATA.PQ, SOUND.PQ, VIDEO.PQ, MUSIC.PQ; chunks packed with\n"
         "  PACK_LZ where that pays) with the empty folders NEW adds; a file\n"
         "  ships as it is (`file = NAME, 0`) instead when it is 64 MiB or\n"
         "  more, when it would be its package's only file, when that is\n"
         "  smaller than its share of the package, or when its time is 20:00\n"
         "  or later (the installer sets an entry's time 4 hours back from\n"
         "  04:00 on, so entries are stored 4 hours later to arrive at NEW's\n"
         "  times, and a time from 20:00 on has no such hour); a file whose\n"
         "  name another shipped file has goes into the package all the same;\n"
         "- patch.txt: the version checks, setversion and setbuild, and for\n"
         "  each folder keyword a dstpath and its file directives. Files below\n"
         "  the folders --data, --sound, --video and --music go to __DATA,\n"
         "  __SOUND, __VIDEO and __MUSIC, the rest to __MAIN;\n"
         "- Report.txt: the new version and what changes.\n"
         "A file or record of OLD that NEW lacks, and a new or changed record\n"
         "that the updater never copies (section 255), cannot be written into\n"
         "the script: each is a warning on standard error and in the report.\n"
         "The same inputs give the same bytes. OUT must not exist: it is\n"
         "written as OUT.part and renamed once whole.\n",
         DistMake},
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
