// The record-store engine: an index file (".DKX", BTree.h) and a data file
// (".DKD", DataHeap.h) opened together. Every entry point that takes a path
// forms both names by StoreFileName's rule. Codes are raised (RaiseError),
// so they come back as return values only when no frame is active.
#pragma once

#include <cstdint>
#include <string>

#include "ourlib/src/BTree.h"
#include "ourlib/src/DataHeap.h"

// Owns the two open files: deleting the engine closes both (the index
// first), writing their headers back when they are writable and never
// raising; a file that is not open yet is null.
struct StoreEngine {
  IndexFile* index = nullptr;
  DataHeap* heap = nullptr;

  StoreEngine() = default;
  ~StoreEngine();
  StoreEngine(const StoreEngine&) = delete;
  StoreEngine& operator=(const StoreEngine&) = delete;
};

// Opens a store. mode: MODE_READ (shared reading; flags may hold
// MF_UNMAPPED, then the data file is read by seek and read, unchecked),
// MODE_CREATE (both files anew, duplicates stored in the new tree),
// MODE_UPDATE (index opened or created; a missing/bad ".DKD" gives -5).
// creationValue is accepted and unused. Raises; null without a frame.
StoreEngine* StoreOpen(const char* path, const KeyConfig* cfg, int duplicates, int mode,
                       uint32_t flags, int32_t creationValue);
// Closes index and heap (writing headers back when writable). Null ignored.
void StoreClose(StoreEngine* engine);
// True when path's ".DKX" is an index file and its ".DKD" exists.
bool StoreExists(const char* path);
// Opens path without sharing, true when 32 bytes read, "DKBT", major 1.
bool IsIndexFile(const char* path);
// True when p lies in the data or index file's view.
bool StoreOwnsPointer(const StoreEngine* engine, const void* p);
// Rebuilds the index of path (upper-cased in place) through a ".$$X"
// temporary file by the bulk loader; the data file is untouched. 0, or -10
// when the index cannot be opened and no frame is active; other errors raised
// (the temporary file is removed on every path).
int StoreCompact(char* path, const KeyConfig* cfg);

// Allocates a block, writes length bytes, and (key not null) inserts key
// with the new record offset. Returns the offset, or -1 for length 0 (index
// untouched). On failure the block is freed and the code raised again.
int32_t StorePutRecord(StoreEngine* engine, const void* key, const void* bytes, uint32_t length);
// A record put's replacement: StoreRemoveKey of the key (on a copy, which
// its search may write into) followed by StorePutRecord of the key as given,
// the old block freed before the new one is taken; the same bytes in both
// files. The index is searched once where the key is new, twice where it
// must be deleted from a node that is then rebalanced, three times where it
// sits in an entry with a child, and where its node keeps enough without
// it, its entry is written over in place. Returns the new record offset.
int32_t StoreReplaceRecord(StoreEngine* engine, void* key, const void* bytes, uint32_t length);
// Deletes key and frees its block: 0, or -4 when absent.
int StoreRemoveKey(StoreEngine* engine, void* key);
// Looks key up (the compare may fill key's stored header); when found checks
// that the record offset holds a block of at least length bytes (-5
// otherwise), reads length bytes into buffer when buffer is not null, and
// returns the record offset. -4 absent; -1 a failed read without a frame.
int32_t StoreGetRecord(StoreEngine* engine, void* key, void* buffer, uint32_t length);
// The second half of StoreGetRecord, for a record offset already known:
// checks the block and reads length bytes into buffer (when not null).
// 0, or the code (raised).
int StoreReadRecord(StoreEngine* engine, int32_t recordOffset, void* buffer, uint32_t length);
// IndexNextFiltered, then checks that the value is a used block's record
// offset. Returns it, -4 at the end, -1 when the check fails without a frame.
int32_t StoreNextRecord(StoreEngine* engine, KeyOut* key);
// The address of a record offset in the data view, null when unmapped.
uint8_t* StoreRecordPointer(StoreEngine* engine, int32_t recordOffset);

// Walks both files and checks every invariant of the format (headers, node
// offsets and fill, key order within and across nodes, free-node list,
// heap tiling, free list ascending and merged, every key's value a used
// block's record offset, no block shared). "" when sound, else the first
// violation. Never raises; does not move the cursor's meaning (it is reset
// before the first key). A node below the root that is empty counts as a
// violation here.
std::string StoreVerify(StoreEngine* engine);
// The index half alone (no heap cross-check; empty nodes below the root,
// which keys near the node size can make, are accepted).
std::string IndexVerify(IndexFile* index);
// The heap half alone.
std::string HeapVerify(DataHeap* heap);
