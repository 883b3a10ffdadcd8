#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>

#include <cstdint>
#include <cstdio>

#include "platform/PosixSupport.h"

namespace plat {
namespace posix {

namespace {

// f_type values of statfs (the kernel's filesystem magic numbers).
DriveType TypeOfFilesystem(uint32_t magic) {
  switch (magic) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0x794C7630:  // overlay
    case 0x2FC12FC1:  // zfs
    case 0xF2F52010:  // f2fs
    case 0x52654973:  // reiserfs
    case 0x3153464A:  // jfs
    case 0x4D44:      // fat, vfat
    case 0x2011BAB0:  // exfat
    case 0x5346544E:  // ntfs
    case 0x7366746E:  // ntfs3
    case 0x24051905:  // ubifs
      return DriveType::Fixed;
    case 0x6969:      // nfs
    case 0x517B:      // smb
    case 0xFF534D42:  // cifs
    case 0xFE534D42:  // smb2
    case 0x65735546:  // fuse: sshfs and the like; a local fuse cannot be told apart
    case 0x73757245:  // coda
    case 0x5346414F:  // afs
    case 0x00C36400:  // ceph
    case 0x01021997:  // 9p
      return DriveType::Remote;
    case 0x9660:      // iso9660
    case 0x15013346:  // udf
      return DriveType::CdRom;
    default:
      return DriveType::Unknown;
  }
}

// True when the block device that holds path says it is removable (a USB
// stick, a card). A partition has no flag of its own: its disk's counts.
bool OnRemovableDevice(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  for (const char* flag : {"removable", "../removable"}) {
    char name[96];
    std::snprintf(name, sizeof name, "/sys/dev/block/%u:%u/%s", major(st.st_dev), minor(st.st_dev),
                  flag);
    std::FILE* f = std::fopen(name, "r");
    if (f == nullptr) continue;
    const int c = std::fgetc(f);
    std::fclose(f);
    return c == '1';
  }
  return false;
}

}  // namespace

DriveType DriveTypeOf(const char* path) {
  if (IsNetworkPath(path)) return DriveType::Remote;
  std::string p = Resolve(path);
  struct statfs fs;
  if (p.empty() || statfs(p.c_str(), &fs) != 0) return DriveType::NoRootDir;
  const DriveType type = TypeOfFilesystem(static_cast<uint32_t>(fs.f_type));
  if (type == DriveType::Fixed && OnRemovableDevice(p)) return DriveType::Removable;
  return type;
}

}  // namespace posix
}  // namespace plat
