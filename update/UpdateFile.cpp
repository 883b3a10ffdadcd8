// UpdateFile: the common part of every `file` directive and operation 0, the
// streaming copy of one shipped file over the game's file, which is replaced
// as a whole (FileReplacement).
#include <cstdint>
#include <cstring>
#include <memory>

#include "ourlib/src/ErrFrame.h"
#include "ourlib/src/PathText.h"
#include "platform/Env.h"
#include "platform/NativePath.h"
#include "update/FileReplacement.h"
#include "update/FolderPath.h"
#include "update/MessageNumbers.h"
#include "update/Operations.h"

namespace {

constexpr uint32_t kCopyBlock = 512 * 1024;  // one fixed buffer; no file is read whole

// Counters wrap as the 32-bit words they are; no signed overflow.
int32_t AddWrapping(int32_t counter, uint32_t n) {
  return static_cast<int32_t>(static_cast<uint32_t>(counter) + n);
}

int Fail(ProgressSink& ui, int message, const char* extra) {
  ui.ScriptError(message, 0, extra);
  return -1;
}

// Drains messages and tests the cancel flag: a check point of the copy.
bool CheckPoint(ProgressSink& ui) {
  ui.Pump();
  if (!ui.Cancelled()) return true;
  ui.ScriptError(MSG_USER_BREAK, 0, "");
  return false;
}

int CopyFile(ProgressSink& ui, const char* source, const char* destination) {
  plat::Env* env = plat::Env::Default();
  int32_t copied = 0;  // this file's own byte count, for its summary line
  // Written beside the destination and renamed over it at the end: until
  // then the destination keeps its old bytes, whatever happens.
  FileReplacement replacement(*env);
  {
    std::unique_ptr<plat::File> in;
    if (env->Open(source, plat::Access::Read, plat::Share::Read, plat::Disposition::OpenExisting, 0,
                  &in) != 0) {
      return Fail(ui, MSG_ERROR_OPEN_FILE, source);
    }
    if (!CheckPoint(ui)) return -1;

    if (!replacement.Begin(destination, plat::ATTR_ARCHIVE))
      return Fail(ui, MSG_ERROR_OPEN_FILE, destination);
    plat::File& out = replacement.file();
    if (!CheckPoint(ui)) return -1;

    MemPtr<uint8_t> buffer;
    if (Guard([&] { buffer = MemAllocOwned(kCopyBlock); }) != 0 || !buffer) {
      return Fail(ui, MSG_NOT_ENOUGH_MEMORY, "");
    }

    if (in->Seek(0) != 0) return Fail(ui, MSG_ERROR_READING_FILE, source);
    uint32_t got = 0;
    if (in->Read(buffer.get(), kCopyBlock, &got) != 0)
      return Fail(ui, MSG_ERROR_READING_FILE, source);
    RunCounters& counters = ui.Counters();
    for (;;) {
      if (!CheckPoint(ui)) return -1;
      if (got > 0) {
        uint32_t put = 0;
        if (out.Write(buffer.get(), got, &put) != 0 || put != got) {
          return Fail(ui, MSG_ERROR_WRITING_FILE, destination);
        }
        counters.bytes = AddWrapping(counters.bytes, got);
        copied = AddWrapping(copied, got);
      }
      ui.Progress(ProgressInfo{-1, counters.bytes, -1, nullptr, nullptr});
      ui.Pump();
      if (got == 0) break;
      if (in->Read(buffer.get(), kCopyBlock, &got) != 0)
        return Fail(ui, MSG_ERROR_READING_FILE, source);
    }
  }  // the source closed, the buffer freed

  {
    std::unique_ptr<plat::File> in;
    if (env->Open(source, plat::Access::Read, plat::Share::None, plat::Disposition::OpenExisting, 0,
                  &in) != 0) {
      return Fail(ui, MSG_ERROR_READING_FILE, source);
    }
    plat::FileTimes times;
    if (in->GetTimes(&times) == 0) replacement.file().SetTimes(times);
  }
  switch (replacement.Commit()) {
    case 0:
      break;
    case FileReplacement::kRenameFailed:
      return Fail(ui, MSG_ERROR_OPEN_FILE, destination);  // held open by another program
    default:
      return Fail(ui, MSG_ERROR_WRITING_FILE, destination);
  }

  LogFormatted(ui, "Copyed bytes - %d", static_cast<int>(copied));
  return CheckPoint(ui) ? 0 : -1;
}

int Install(ProgressSink& ui, const char* sourceName, const char* updaterFolder,
            const char* destPath) {
  RunCounters& counters = ui.Counters();
  const int32_t filesBefore = counters.files;
  const int32_t bytesBefore = counters.bytes;
  char failed[kPathField] = "";
  int result = InstallFiles(ui, updaterFolder, destPath, sourceName, failed, sizeof failed);
  if (result == INSTALL_CANCELLED) {
    ui.ScriptError(MSG_USER_BREAK, 0, "");
    return -1;
  }
  if (result != 0) {
    ui.FileError(result, failed);
    return -1;
  }
  if (!CheckPoint(ui)) return -1;
  // This file's share of the counters, which wrap as the 32-bit words they are.
  const uint32_t files = static_cast<uint32_t>(counters.files) - static_cast<uint32_t>(filesBefore);
  const uint32_t bytes = static_cast<uint32_t>(counters.bytes) - static_cast<uint32_t>(bytesBefore);
  LogFormatted(ui, "Files updated - %d, Bytes updated = %d  ",
               static_cast<int>(static_cast<int32_t>(files)),
               static_cast<int>(static_cast<int32_t>(bytes)));
  return 0;
}

}  // namespace

int UpdateFile(ProgressSink& ui, const char* sourceName, const char* updaterFolder,
               const char* destPath, int operation) {
  ui.Log("===========================================================================");
  const bool namedFile = operation == 0 || operation == 1;

  // Paths that do not fit their 260-byte fields are refused, never cut and used.
  char destination[kPathField];
  bool fits = CopyBounded(destination, sizeof destination, destPath) &&
              EnsureTrailingSeparator(destination, sizeof destination);
  if (operation == 0 && fits) {
    char folder[kPathField];
    std::memcpy(folder, destination, sizeof folder);
    if (!CreateFolderPath(folder)) return Fail(ui, MSG_ERROR_CREATING_DIR, folder);
  }
  if (namedFile) fits = AppendBounded(destination, sizeof destination, sourceName) && fits;
  LogFormatted(ui, "Destination : %s", plat::ShownPath(destination).c_str());

  char source[kPathField];
  bool sourceFits = CopyBounded(source, sizeof source, updaterFolder) &&
                    EnsureTrailingSeparator(source, sizeof source) &&
                    AppendBounded(source, sizeof source, sourceName);
  LogFormatted(ui, "Source : %s", plat::ShownPath(source).c_str());
  if (!sourceFits) return Fail(ui, MSG_ERROR_OPEN_FILE, source);
  if (!fits) return Fail(ui, MSG_ERROR_OPEN_FILE, destination);

  RunCounters& counters = ui.Counters();
  if (namedFile) counters.files = AddWrapping(counters.files, 1);
  ui.Pump();
  ui.Progress(ProgressInfo{-1, -1, counters.files, source, destination});
  ui.Pump();

  if (operation == 0) return CopyFile(ui, source, destination);
  if (operation == 1) return CopyStoreRecords(ui, source, destination) == 0 ? 0 : -1;
  return Install(ui, sourceName, updaterFolder, destPath);
}
