// A UI that records what it is asked to show instead of showing it, and
// takes its texts from the real string table.
#pragma once

#include <string>
#include <vector>

#include "platform/Ui.h"

struct ShownBox {
  std::string text;
  std::string caption;
  uint32_t flags;
};

class RecordingUi : public plat::Ui {
 public:
  RecordingUi() { plat::SetDefaultUi(this); }
  ~RecordingUi() override { plat::SetDefaultUi(nullptr); }
  RecordingUi(const RecordingUi&) = delete;
  RecordingUi& operator=(const RecordingUi&) = delete;

  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override {
    boxes.push_back(ShownBox{text, caption, flags});
    events.push_back("box");
    return plat::kIdOk;
  }
  void Beep(uint32_t type) override {
    beeps.push_back(type);
    events.push_back("beep");
  }
  int LoadResString(int id, char* buf, int capacity) override {
    return plat::BackendUi()->LoadResString(id, buf, capacity);
  }

  std::vector<ShownBox> boxes;
  std::vector<uint32_t> beeps;
  std::vector<std::string> events;
};

// Points the string table at the updater's own: the resources of its
// program file (Windows) or the table compiled into it (POSIX).
void UseUpdaterStrings();
