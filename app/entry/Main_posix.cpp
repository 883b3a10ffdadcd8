// The updater on POSIX: a failure's -1 reaches the shell as status 255.
#include "app/Messages.h"
#include "app/RunUpdate.h"

int main(int argc, char** argv) {
  InstallStringTable();
  return UpdaterMain(argc, argv);
}
