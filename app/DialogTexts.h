// What both dialog backends show and do alike: the completion message, the
// effects of the progress notifications on the run counters and the log.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kCompletionMessage = 260;  // the completion message's buffer
// The most bytes of Report.txt the completion dialog's report box shows
// whole: its selection (EM_SETSEL 0, 0xFFFF0000) is packed into 16-bit
// words, and a multi-line edit control of Windows 9x holds no more.
constexpr size_t kReportLimit = 0xFFFF;

// String 63 with FormatVersion of the version word now in the game settings,
// cut to fit `capacity` bytes.
void ComposeCompletionMessage(char* out, size_t capacity);

// The report file's path: the updater folder and string 67 ("Report.txt").
void ReportPath(char* out, size_t capacity);

// ReadWholeFile for the completion dialog: a report too large for memory
// counts as unreadable (null) rather than raising through the dialog code.
char* ReadReport(const char* path);

// UM_FILE_UPDATED: adds 1 to the file counter and logs "Updated file : %s".
// Returns the new file counter.
int32_t CountFileUpdated(const char* path);
// UM_BYTES_UPDATED: adds count to the byte counter; returns the new counter.
int32_t CountBytesUpdated(uint32_t count);
