// The B-tree index of a store's ".DKX" file: variable-length keys with a
// 32-bit value each, in fixed-size nodes addressed by file offset, worked on
// in place in the mapped file.
//
// The file: the header, the first tree descriptor at 32, nodes from 64 (their
// layout is in BTreeNode.h). All fields are little-endian (ByteCodec.h); the
// tables below give each field's offset, its size in bytes and what it holds.
//
// Codes (ErrorCodes.h): ERR_NOT_FOUND, a key absent or the end of iteration
// (returned, never raised); ERR_DUPLICATE, an existing key without
// duplicates; ERR_NOT_STORE, a damaged index (a node offset, entry count, key
// length or list that does not fit the file); ERR_NO_MEMORY, no memory or an
// insert that would need a ninth level; the mapped-file codes.
#pragma once

#include <cstdint>
#include <vector>

#include "ourlib/src/ErrorCodes.h"
#include "ourlib/src/MappedFile.h"

enum : int32_t {
  KEY_CHAR = 1,         // signed 8-bit, difference
  KEY_BYTE = 2,         // unsigned 8-bit, difference
  KEY_SHORT = 3,        // signed 16-bit, difference
  KEY_WORD = 4,         // unsigned 16-bit, difference
  KEY_LONG = 5,         // 32-bit, sign of the wrapped difference
  KEY_DWORD = 6,        // as KEY_LONG
  KEY_TEXT = 7,         // zero-terminated, unsigned bytes, -1/0/1
  KEY_TEXT_NOCASE = 8,  // zero-terminated, case-insensitive
  KEY_CUSTOM = 255,     // compare and length functions of the KeyConfig
};

// Compares the search key with a stored key: negative, zero or positive as
// the search key sorts before, equal to or after it. May write into the
// search key (the store's keys copy the stored header on equality).
using KeyCompareFn = int (*)(void* searchKey, const void* storedKey);
// The length in bytes of a key.
using KeyLengthFn = int (*)(const void* key);
// Iteration filter: nonzero skips the key.
using KeyFilterFn = int (*)(const void* key, void* userData);

struct KeyConfig {
  int32_t keyType = KEY_CUSTOM;  // types 1..8 use the built-in comparison
  KeyCompareFn compare = nullptr;
  KeyLengthFn keyLength = nullptr;
  uint16_t fixedLength = 0;  // nonzero: every key has this length
};

// A static KeyConfig for built-in type 1..8 (null for other values).
const KeyConfig* BuiltinKeyConfig(int32_t keyType);

// Index file header, 32 bytes; what the table leaves out is zero.
enum : uint32_t {
  kIndexHdrMagic = 0,        // 4  "DKBT"
  kIndexHdrVersion = 4,      // 2  kIndexVersion, the minor byte first
  kIndexHdrMajor = 5,        // 1  the major version: a file is read only when it is 1
  kIndexHdrNodeSize = 6,     // 2  node size, signed; kIndexNodeSize in every file made here
  kIndexHdrLogical = 8,      // 4  the end of the last node (kMapHdrLogicalSize)
  kIndexHdrFreeNode = 12,    // 4  the first free node, -1 for none (kMapHdrFreeHead)
  kIndexHdrTreeCount = 16,   // 2  trees made in the file: the next tree's number
  kIndexHdrTreeList = 18,    // 4  the first descriptor of the tree list, the rest linked
                             //    through kDescNext; 0 is read as 32, and -1 (a lost list)
                             //    is repaired from the second list
  kIndexHdrSecondList = 22,  // 4  a second descriptor list, read only by that repair
};
static_assert(kIndexHdrLogical == kMapHdrLogicalSize && kIndexHdrFreeNode == kMapHdrFreeHead,
              "the mapped-file layer keeps these two fields");
constexpr uint16_t kIndexVersion = 0x0101;
constexpr int16_t kIndexNodeSize = 2048;

// Tree descriptor, 32 bytes, the first at kFirstDescriptor; what the table
// leaves out is zero.
enum : uint32_t {
  kDescNext = 0,          // 4  the next descriptor of the tree list, -1 for none
  kDescRoot = 4,          // 4  the root node, fixed for the life of the tree
  kDescNumber = 8,        // 2  tree number
  kDescHeight = 10,       // 2  height in levels, 1 for a tree that is only its root
  kDescDuplicates = 14,   // 2  1 lets equal keys stand side by side, 0 refuses them
  kDescKeyType = 16,      // 4  key type (KEY_* above)
  kDescFixedLength = 20,  // 2  fixed key length, 0 when each key has a length of its own
  kDescName = 22,         // 10 name: the tree number printed as "%08ld", zero-filled
};
constexpr uint32_t kDescNameSize = 10;
constexpr uint32_t kDescriptorSize = 32;
constexpr uint32_t kFirstDescriptor = 32;

constexpr int kMaxTreeLevels = 8;  // the cursor path's length; deeper trees are refused
constexpr uint32_t kNodeHeader = 16;
constexpr uint32_t kEntryHeader = 8;  // child and value before the key
constexpr uint32_t kIndexGrowth = 0x100000;

struct TreePathStep {
  int32_t node;  // file offset of the node at this level
  int32_t pos;   // entry position (bytes from the first entry), -1 before the first
};

struct TreeDescriptor {
  TreeDescriptor* nextOpen = nullptr;
  KeyCompareFn compare = nullptr;
  KeyLengthFn keyLength = nullptr;
  KeyFilterFn filter = nullptr;
  void* filterData = nullptr;
  int dirty = 0;
  int32_t ownOffset = 0;
  int level = 0;                       // the cursor's current level
  uint8_t disk[kDescriptorSize] = {};  // the descriptor as stored (kDesc* fields)
  TreePathStep path[kMaxTreeLevels] = {};
  bool parked = false;  // iteration passed the last key
  // The keys are record keys (RecKeyConfig): their lengths and order are
  // worked out inline instead of through the two functions. Set at open.
  bool recordKeys = false;
};

// Sets recordKeys from the descriptor's key type and functions.
void NoteKeyKind(TreeDescriptor* t);
int32_t TreeRoot(const TreeDescriptor* t);
int TreeHeight(const TreeDescriptor* t);
bool TreeDuplicates(const TreeDescriptor* t);
// Stores a new height and marks the descriptor to be written back.
void SetTreeHeight(TreeDescriptor* t, int height);

struct IndexFile {
  MappedFile file;
  TreeDescriptor* trees = nullptr;  // open descriptors (only ever one)
  TreeDescriptor* current = nullptr;
  int32_t currentNode = -1;  // node loaded last
  // Iteration: the value of the entry after the one handed out last when it
  // lies in the same node, else -1; a reader of the data can ask for it ahead.
  int32_t valueAhead = -1;
  uint32_t listHeadOffset = kIndexHdrTreeList;
  uint32_t nodeSize = 2048;
  std::vector<uint8_t> scratch[2];  // entry copies, grown on demand
  IndexFile() = default;
  IndexFile(const IndexFile&) = delete;
  IndexFile& operator=(const IndexFile&) = delete;
  ~IndexFile();  // frees the descriptors; does not write
};

// Where IndexNext puts the key it returns.
struct KeyOut {
  void* buffer = nullptr;  // caller's buffer, or null for "do not copy"
  uint32_t capacity = 0;   // bytes in buffer; a longer key gives -14, nothing copied
  bool allocate = false;   // true: buffer receives a new MemAlloc copy (free with MemFree)
  uint32_t length = 0;     // out: the key's length
};

// Mode values shared with StoreOpen.
enum : int { MODE_READ = 1, MODE_CREATE = 2, MODE_UPDATE = 3 };

// Open calls return a new context (IndexClose frees it) with the cursor
// before the first key, or raise (null without a frame).
// Creates path anew with one empty tree (number 0, descriptor at 32).
IndexFile* IndexCreate(const char* path, const KeyConfig* cfg, int duplicates);
// Opens an existing index, MODE_READ (shared, read-only) or MODE_UPDATE.
// -5 below 32 bytes or wrong magic, -53 major version not 1. A tree list of
// -1 is repaired from the list at header offset 22.
IndexFile* IndexOpen(const char* path, const KeyConfig* cfg, int mode);
// IndexOpen for update when IsIndexFile accepts path, else IndexCreate.
IndexFile* IndexOpenOrCreate(const char* path, const KeyConfig* cfg, int duplicates);
// IndexFlush, then cut the file at its logical size and free everything.
// Null is ignored. Never raises (a failing flush is swallowed; call IndexFlush first to see it).
void IndexClose(IndexFile* index);

// Searches the current tree; true when an equal key was met on the path.
// exact: stop at the equal entry. Leaves the cursor path where it ended.
bool IndexFind(IndexFile* index, void* key, bool exact);
// 0 with the equal entry's value and child (either pointer may be null), or -4.
int IndexLookup(IndexFile* index, void* key, int32_t* value, int32_t* child);
// Inserts key with value; -61 raised when present and duplicates are off
// (nothing changes). In a read-only index nothing changes.
int IndexInsert(IndexFile* index, const void* key, int32_t value);
// Deletes key; 0 and the deleted value, or -4 when absent.
int IndexDelete(IndexFile* index, void* key, int32_t* value);

// A put that replaces the key's entry, with one search: IndexPlace finds
// where key goes and what a delete followed by an insert would do there.
// Nothing changes until the calls its answer names, which must come next on
// the tree (the heap may change in between); they leave the same bytes as
// the delete and the insert would.
enum class PutPlace {
  kAbsent,   // key absent: the cursor stands where IndexInsert would put it;
             // IndexInsertPlaced
  kInPlace,  // key in an entry without a child, whose node needs no rebalancing
             // without it: IndexReplacePlaced writes over it
  kLeaf,     // key in an entry without a child, whose node must be rebalanced
             // without it: IndexDeletePlaced, then IndexInsertPlaced
  kInner,    // key in an entry with a child: IndexDelete, whose closing search
             // leaves the cursor where IndexInsertPlaced puts the key
  kElse,     // anything else (a tree with duplicates, a read-only index):
             // delete and insert the ordinary way
};
// *value: the entry's value when the key is there.
PutPlace IndexPlace(IndexFile* index, const void* key, int32_t* value);
// Inserts key with value at the cursor (IndexInsert of an absent key).
int IndexInsertPlaced(IndexFile* index, const void* key, int32_t value);
// Writes key and value over the entry at the cursor (IndexDelete, IndexInsert).
int IndexReplacePlaced(IndexFile* index, const void* key, int32_t value);
// Deletes the entry at the cursor (IndexDelete of key, which the search may
// write into), leaving the cursor where key would be inserted.
int IndexDeletePlaced(IndexFile* index, void* key);

// Cursor before the first key; filter (may be null) and its data are kept.
void IndexFirst(IndexFile* index, KeyFilterFn filter, void* userData);
// 0 with the next entry (key into *key when given, value, child), or -4 at
// the end (and on every later call until IndexFirst).
int IndexNext(IndexFile* index, KeyOut* key, int32_t* value, int32_t* child);
// IndexNext repeated while the filter skips; 0 or -4; other codes raised.
int IndexNextFiltered(IndexFile* index, KeyOut* key, int32_t* value, int32_t* child);
// Appends every key of source's tree (in the order IndexNextFiltered gives
// them) with its value to target's empty tree, filling nodes left to right.
int IndexBulkCopy(IndexFile* target, IndexFile* source);

// Node space: the free-node list first, else the end of the file. The caller
// reserves and fills the node.
int32_t NodeAlloc(IndexFile* index);
// Puts a node on the free-node list (marked -2).
void NodeFree(IndexFile* index, int32_t offset);
// Makes a new tree at descOffset (height 1, empty root).
void IndexInitTree(IndexFile* index, uint32_t descOffset, int duplicates);
// Writes a dirty descriptor at its own offset.
void IndexWriteTree(IndexFile* index, TreeDescriptor* tree);
// Writes every dirty descriptor, then the header when MF_DIRTY.
void IndexFlush(IndexFile* index);
