#include "descriptors.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zp_config.h"

namespace {

// The kernel's directory entry as getdents64 writes it; called through
// syscall, since C libraries before glibc 2.30 have no wrapper.
struct KernelDirent64 {
  std::uint64_t inode;
  std::int64_t offset;
  unsigned short length;
  unsigned char type;
  char name[1];
};

// The descriptor number a /proc/self/fd entry names; -1 for "." and "..".
int DescriptorNamed(const char* name) {
  if (*name < '0' || *name > '9') return -1;
  int fd = 0;
  for (; *name >= '0' && *name <= '9'; ++name) fd = fd * 10 + (*name - '0');
  return fd;
}

}  // namespace

bool ZpCloseListedDescriptorsFrom(int first) {
  int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  // Closing a descriptor does not move the listing's position, which is the
  // next descriptor number: each batch goes on where the last one ended.
  alignas(8) char buffer[4096];
  long length;
  while ((length = syscall(SYS_getdents64, dir, buffer, sizeof buffer)) > 0) {
    for (long at = 0; at < length;) {
      unsigned short entryLength;
      memcpy(&entryLength, buffer + at + offsetof(KernelDirent64, length), sizeof entryLength);
      int fd = DescriptorNamed(buffer + at + offsetof(KernelDirent64, name));
      if (fd >= first && fd != dir) close(fd);
      at += entryLength;
    }
  }
  close(dir);
  return length == 0;
}

void ZpCloseDescriptorsBelowLimit(int first) {
  for (int fd = first, end = getdtablesize(); fd < end; ++fd) close(fd);
}

// With open-file limits of 2^20 a close per descriptor would cost a million
// calls per child: the listing is tried before the loop.
void ZpCloseDescriptorsFrom(int first) {
#if ZP_HAVE_CLOSE_RANGE
  // Also where the C library has it but the kernel (before 5.9) does not.
  if (close_range(unsigned(first), ~0U, 0) == 0) return;
#endif
  if (ZpCloseListedDescriptorsFrom(first)) return;
  ZpCloseDescriptorsBelowLimit(first);
}
