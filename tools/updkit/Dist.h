// updkit dist: the actions of the command that works on whole update
// distributions (a folder with the script, the files it ships and the
// report), one file each; the command's table in DistCommand.cpp names them.
#pragma once

#include <string>

class Args;

constexpr char kDefaultScript[] = "patch.txt";

// Makes a distribution's folder the current folder while it lives, as the
// updater is started in it: a script names the files it includes relative
// to it. The folder before is current again afterwards.
class InDistribution {
 public:
  explicit InDistribution(const char* dist);
  ~InDistribution();
  InDistribution(const InDistribution&) = delete;
  InDistribution& operator=(const InDistribution&) = delete;

  bool entered() const { return entered_; }
  // The distribution's full path, ending in a separator.
  const std::string& folder() const { return folder_; }

 private:
  std::string previous_;
  std::string folder_;
  bool entered_ = false;
};

// dist make OLD NEW OUT --from V --to V [...]: an update distribution from
// two game folders.
int DistMake(const Args& args);
// dist check DIST [--script NAME]: reads the script as the updater does,
// without an installation, and names every problem of the distribution.
int DistCheck(const Args& args);
// dist plan DIST [--script NAME] [--registry FILE]: runs the update against
// the installation the registry names with every write kept in memory, and
// prints what it would change.
int DistPlan(const Args& args);
